// The agent's I420 frames as WebCodecs VideoFrames, for drawing and for media tracks.
//
// A VideoFrame takes its planes from one buffer, so the three planes (each its own message) are
// copied into one that is kept between frames (a block copy each); the browser then converts and
// draws it in one call, or hands it on through a track.

// BT.601 limited range, the usual meaning of camera I420 (the WebGL and JavaScript drawing use it
// too).
const BT601 = { primaries: 'smpte170m', transfer: 'smpte170m', matrix: 'smpte170m', fullRange: false };

export class VideoFramePacker {
  constructor() {
    this.buffer = null;
  }

  /** The frame's planes one after the other in this.buffer, in the sizes a VideoFrame expects. */
  pack({ width, height, stride, chromaStride, y, u, v }) {
    // A VideoFrame wants ceil(height / 2) chroma rows; an odd height repeats the last one sent.
    const chromaRows = (height + 1) >> 1;
    const lumaBytes = stride * height;
    const chromaBytes = chromaStride * chromaRows;
    const size = lumaBytes + 2 * chromaBytes;
    if (this.buffer === null || this.buffer.length !== size) this.buffer = new Uint8Array(size);
    const buffer = this.buffer;
    buffer.set(y, 0);
    const half = width >> 1;
    for (const [plane, offset] of [[u, lumaBytes], [v, lumaBytes + chromaBytes]]) {
      buffer.set(plane, offset);
      if (width & 1 && half > 0) {
        // An odd width needs one chroma column more than is sent: repeat the last one.
        for (let row = offset + half; row < offset + plane.length; row += chromaStride) buffer[row] = buffer[row - 1];
      }
      const end = offset + plane.length;
      if (plane.length === chromaBytes) continue;
      if (plane.length >= chromaStride) buffer.copyWithin(end, end - chromaStride, end);
      else buffer.fill(128, end, offset + chromaBytes); // one picture row: no chroma was sent
    }
    return { lumaBytes, chromaBytes };
  }

  /**
   * A new VideoFrame of the frame's picture (the caller closes it). `init` adds to the frame's
   * description, e.g. its rotation and flip for a track, or its timestamp in microseconds.
   */
  videoFrame(frame, init = {}) {
    const { lumaBytes, chromaBytes } = this.pack(frame);
    return new VideoFrame(this.buffer, {
      format: 'I420',
      codedWidth: frame.width,
      codedHeight: frame.height,
      timestamp: 0,
      colorSpace: BT601,
      layout: [
        { offset: 0, stride: frame.stride },
        { offset: lumaBytes, stride: frame.chromaStride },
        { offset: lumaBytes + chromaBytes, stride: frame.chromaStride },
      ],
      ...init,
    });
  }
}
