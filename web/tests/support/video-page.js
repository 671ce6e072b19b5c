// The browser tests' page for the library's ways of showing a stream: the library itself is
// imported by the tests (import('/kelvo-agent.js')); this page reads back the pictures shown.

/**
 * Reads the stand-in engine's pattern from what `source` (a canvas or a <video>) shows, in the
 * frame's own coordinates: `transposed` says the picture is shown turned a quarter clockwise and
 * then mirrored, so that the frame's pixel (x, y) is shown at (y, x). Returns the counter bits of
 * the marker strip (16 x 16 blocks along the top rows, bit 15 first), the strip's colours and the
 * red channel of the frame's row 20 (luma (x + 20 + counter) & 255), as demo-page.mjs's readTile.
 */
window.readPattern = async (source, { transposed = false } = {}) => {
  if (source.readyState !== undefined && source.readyState < 2) return null; // a video without a picture yet
  // As the source shows itself (a canvas drawn by a worker keeps its element's size attributes).
  const picture = await createImageBitmap(source);
  const { width, height } = picture;
  const copy = document.createElement('canvas');
  copy.width = width;
  copy.height = height;
  const context = copy.getContext('2d', { willReadFrequently: true });
  context.drawImage(picture, 0, 0);
  picture.close();
  const shown = context.getImageData(0, 0, width, height).data;
  const frameWidth = transposed ? height : width;
  const at = (x, y) => {
    const [sx, sy] = transposed ? [y, x] : [x, y];
    const i = 4 * (sy * width + sx);
    return [shown[i], shown[i + 1], shown[i + 2]];
  };
  const blocks = Math.min(16, Math.floor(frameWidth / 16));
  let bits = 0;
  const strip = [];
  for (let i = 0; i < blocks; i += 1) {
    const rgb = at(16 * i + 8, 8);
    strip.push(rgb);
    bits = bits * 2 + (rgb[0] > 128 ? 1 : 0);
  }
  const row20 = Array.from({ length: frameWidth }, (_, x) => at(x, 20)[0]);
  return { bits, blocks, strip, row20, decoded: bits, width: frameWidth, shownWidth: width, shownHeight: height };
};

document.body.dataset.ready = 'true';
