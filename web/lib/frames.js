// The frames of a stream connection: each arrives as four binary messages, a 20-byte header
// (big-endian: byte 1 mirrored flag, width at 2, height at 4, row padding at 10, rotation at 14,
// timestamp at 16) and the Y, U and V planes with rows of width + padding bytes.
//
// The timestamp is the agent's wall clock when it packed the frame: milliseconds since
// 1970-01-01 UTC, low 32 bits (it wraps every 49.7 days). It is not the camera's capture time.
// The agent runs on the page's machine, so frameAge() against Date.now() is how long ago the
// agent sent the frame.

const HEADER_BYTES = 20;

/** Reads a 32-bit big-endian word. */
function word32(bytes, offset) {
  return ((bytes[offset] << 24) | (bytes[offset + 1] << 16) | (bytes[offset + 2] << 8) | bytes[offset + 3]) >>> 0;
}

/** Parses a frame header; returns null when the buffer is not one. */
export function parseFrameHeader(buffer) {
  if (buffer.byteLength !== HEADER_BYTES) return null;
  const view = new DataView(buffer);
  if (view.getUint8(0) !== 0) return null;
  const width = view.getUint16(2);
  const height = view.getUint16(4);
  const stride = width + view.getUint16(10);
  return {
    mirrored: view.getUint8(1) === 1,
    width,
    height,
    stride,
    chromaStride: stride >> 1,
    rotation: view.getUint16(14),
    timestamp: view.getUint32(16),
  };
}

/**
 * Puts frames together from the four binary messages that carry each one. push() takes the
 * messages in arrival order and returns a whole frame after its V plane, else null. A message of
 * the wrong size (a connection that lost step) is skipped until the next header.
 */
export class FrameAssembler {
  constructor() {
    this.frame = null;
    this.planes = [];
  }

  push(buffer) {
    if (this.frame === null) {
      this.frame = parseFrameHeader(buffer);
      this.planes = [];
      return null;
    }
    const { stride, chromaStride, height } = this.frame;
    const expected = this.planes.length === 0 ? stride * height : chromaStride * (height >> 1);
    if (buffer.byteLength !== expected) {
      this.frame = parseFrameHeader(buffer);
      this.planes = [];
      return null;
    }
    this.planes.push(new Uint8Array(buffer));
    if (this.planes.length < 3) return null;
    const [y, u, v] = this.planes;
    const frame = { ...this.frame, y, u, v };
    this.frame = null;
    this.planes = [];
    return frame;
  }
}

/**
 * The stand-in engine's frame counter, read from the decoded planes: the first four bytes of the
 * U plane's last row hold it big-endian. Returns null for a frame without chroma rows.
 */
export function frameCounter(frame) {
  const rows = frame.height >> 1;
  if (rows === 0 || frame.chromaStride < 4) return null;
  return word32(frame.u, (rows - 1) * frame.chromaStride);
}

/** Milliseconds from a frame header's timestamp (low 32 bits of the wall clock) to `now`. */
export function frameAge(timestamp, now = Date.now()) {
  const age = (now - timestamp) % 0x100000000;
  const wrapped = age < 0 ? age + 0x100000000 : age;
  // A stamp slightly ahead of this clock (it moved back) counts as no age, not as 49 days.
  return wrapped >= 0x80000000 ? 0 : wrapped;
}

