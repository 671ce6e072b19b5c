// How a frame is shown upright. Its header carries a rotation (degrees clockwise that the picture
// needs to stand upright, as a camera mounted sideways reports it) and a mirrored flag (show it
// flipped left to right, as a front camera's own view is shown). The picture is turned first and
// then mirrored, as WebCodecs turns and flips a VideoFrame. Only quarter turns are honoured; any
// other angle is taken to the nearest one.

/** The frame's rotation as 0, 90, 180 or 270. */
export function quarterTurn(rotation = 0) {
  return ((Math.round(rotation / 90) % 4) + 4) % 4 * 90;
}

/** Whether the frame is shown as it arrives: no turn, no mirror. */
export function isUpright({ rotation = 0, mirrored = false }) {
  return quarterTurn(rotation) === 0 && !mirrored;
}

/** The size of the picture as shown: width and height swap for a quarter turn either way. */
export function shownSize({ width, height, rotation = 0 }) {
  return quarterTurn(rotation) % 180 === 0 ? { width, height } : { width: height, height: width };
}

/**
 * The 2D canvas transform [a, b, c, d, e, f] (as setTransform takes it) that draws the picture,
 * placed at 0,0 in its own width x height, upright into a canvas of its shown size.
 */
export function uprightTransform({ width, height, rotation = 0, mirrored = false }) {
  const turn = quarterTurn(rotation);
  // Where the picture's x and y axes point in the shown canvas, and where its origin lands.
  const [a, b, c, d, e, f] = {
    0: [1, 0, 0, 1, 0, 0],
    90: [0, 1, -1, 0, height, 0],
    180: [-1, 0, 0, -1, width, height],
    270: [0, -1, 1, 0, 0, width],
  }[turn];
  if (!mirrored) return [a, b, c, d, e, f];
  const shownWidth = turn % 180 === 0 ? width : height;
  return [-a, b, -c, d, shownWidth - e, f];
}

/**
 * The same in the other direction, in units of each picture's size (0 to 1, y down): for a point
 * (u, v) of the shown picture, its place in the frame as it arrived is
 * (turn[0] u + turn[1] v + shift[0], turn[2] u + turn[3] v + shift[1]). For a shader's sampling.
 */
export function shownToFrame(frame) {
  const [a, b, c, d, e, f] = uprightTransform(frame);
  const shown = shownSize(frame);
  // The transform only turns and flips, so its inverse is its transpose.
  return {
    turn: [(a * shown.width) / frame.width, (b * shown.height) / frame.width,
      (c * shown.width) / frame.height, (d * shown.height) / frame.height],
    shift: [-(a * e + b * f) / frame.width, -(c * e + d * f) / frame.height],
  };
}

/** Gives the canvas the frame's shown size (resizing clears it); returns that size. */
export function fitCanvas(canvas, frame) {
  const shown = shownSize(frame);
  if (canvas.width !== shown.width || canvas.height !== shown.height) {
    canvas.width = shown.width;
    canvas.height = shown.height;
  }
  return shown;
}

/** Draws `picture` (the frame as it arrived) upright into the canvas of the 2D `context`. */
export function drawUpright(context, picture, frame) {
  fitCanvas(context.canvas, frame);
  if (isUpright(frame)) {
    context.drawImage(picture, 0, 0);
    return;
  }
  context.setTransform(...uprightTransform(frame));
  context.drawImage(picture, 0, 0);
  context.resetTransform();
}
