/*
 * yuv-canvas.js: draws the agent's I420 frames on a canvas, in one of three ways:
 *
 *   'webcodecs'  the planes become a WebCodecs VideoFrame that the browser converts and draws into
 *                a 2D canvas with its own conversion;
 *   'webgl'      a fragment shader converts YUV to RGB from three one-channel textures;
 *   '2d'         the conversion runs in JavaScript into a 2D canvas (slow; the last resort).
 *
 * createRenderer() takes the first of these that works in this browser, starting with the one
 * asked for (option `preferred`). By default it starts with WebCodecs: measured in Chromium without
 * a GPU (bench/browser-video-bench), it draws the same frames for less processor time than the
 * WebGL path, about half at tile sizes and a tenth less at 1920x1080, though WebGL, which leaves
 * part of its work to the GPU process, can draw more large frames once both processors are busy.
 * WebGL follows it where VideoFrame is missing or refuses I420.
 * The canvas takes the frame's size, so one canvas pixel is one picture pixel; scale it with CSS.
 * Every way shows the picture upright and mirrored as its header says (lib/orientation.js); the
 * canvas then takes the shown size (height and width swapped for a quarter turn).
 */
import {
  drawUpright, fitCanvas, isUpright, shownToFrame,
} from './lib/orientation.js';
import { VideoFramePacker } from './lib/video-frames.js';

/** The order in which createRenderer() tries the ways of drawing. */
export const RENDERER_KINDS = ['webcodecs', 'webgl', '2d'];

const VERTEX_SHADER = `
attribute vec2 position;
uniform vec2 crop;
uniform vec4 turn;
uniform vec2 shift;
varying vec2 lumaCoord;
void main() {
  vec2 shown = vec2((position.x + 1.0) * 0.5, (1.0 - position.y) * 0.5);
  vec2 picture = vec2(dot(turn.xy, shown), dot(turn.zw, shown)) + shift;
  lumaCoord = vec2(picture.x * crop.x, picture.y);
  gl_Position = vec4(position, 0.0, 1.0);
}`;

// BT.601 limited range, the usual meaning of camera I420. An odd width has one chroma column less
// than the picture needs (the stream carries floor(width / 2)): the last one sent serves twice.
const FRAGMENT_SHADER = `
precision mediump float;
uniform sampler2D planeY;
uniform sampler2D planeU;
uniform sampler2D planeV;
uniform float chromaEdge;
varying vec2 lumaCoord;
void main() {
  vec2 chromaCoord = vec2(min(lumaCoord.x, chromaEdge), lumaCoord.y);
  float y = 1.164 * (texture2D(planeY, lumaCoord).r - 0.0625);
  float u = texture2D(planeU, chromaCoord).r - 0.5;
  float v = texture2D(planeV, chromaCoord).r - 0.5;
  gl_FragColor = vec4(y + 1.596 * v, y - 0.391 * u - 0.813 * v, y + 2.018 * u, 1.0);
}`;

function compile(gl, type, source) {
  const shader = gl.createShader(type);
  gl.shaderSource(shader, source);
  gl.compileShader(shader);
  if (!gl.getShaderParameter(shader, gl.COMPILE_STATUS)) throw new Error(gl.getShaderInfoLog(shader));
  return shader;
}

class WebGLRenderer {
  constructor(canvas, gl) {
    this.kind = 'webgl';
    this.canvas = canvas;
    this.gl = gl;
    this.geometry = '';
    const program = gl.createProgram();
    gl.attachShader(program, compile(gl, gl.VERTEX_SHADER, VERTEX_SHADER));
    gl.attachShader(program, compile(gl, gl.FRAGMENT_SHADER, FRAGMENT_SHADER));
    gl.linkProgram(program);
    if (!gl.getProgramParameter(program, gl.LINK_STATUS)) throw new Error(gl.getProgramInfoLog(program));
    gl.useProgram(program);

    gl.bindBuffer(gl.ARRAY_BUFFER, gl.createBuffer());
    gl.bufferData(gl.ARRAY_BUFFER, new Float32Array([-1, -1, 1, -1, -1, 1, 1, 1]), gl.STATIC_DRAW);
    const position = gl.getAttribLocation(program, 'position');
    gl.enableVertexAttribArray(position);
    gl.vertexAttribPointer(position, 2, gl.FLOAT, false, 0, 0);
    this.crop = gl.getUniformLocation(program, 'crop');
    this.chromaEdge = gl.getUniformLocation(program, 'chromaEdge');
    this.turn = gl.getUniformLocation(program, 'turn');
    this.shift = gl.getUniformLocation(program, 'shift');

    gl.pixelStorei(gl.UNPACK_ALIGNMENT, 1);
    this.textures = ['planeY', 'planeU', 'planeV'].map((name, unit) => {
      const texture = gl.createTexture();
      gl.activeTexture(gl.TEXTURE0 + unit);
      gl.bindTexture(gl.TEXTURE_2D, texture);
      // Nearest sampling: the canvas matches the frame, and it keeps row padding out of the picture.
      gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MIN_FILTER, gl.NEAREST);
      gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MAG_FILTER, gl.NEAREST);
      gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_WRAP_S, gl.CLAMP_TO_EDGE);
      gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_WRAP_T, gl.CLAMP_TO_EDGE);
      gl.uniform1i(gl.getUniformLocation(program, name), unit);
      return texture;
    });
  }

  draw(frame) {
    const { gl, canvas } = this;
    const shown = fitCanvas(canvas, frame);
    gl.viewport(0, 0, shown.width, shown.height);
    const chromaRows = frame.height >> 1;
    const planes = [
      [frame.y, frame.stride, frame.height],
      [frame.u, frame.chromaStride, chromaRows],
      [frame.v, frame.chromaStride, chromaRows],
    ];
    // Textures keep their storage while the geometry stays: only the pixels are replaced.
    const resize = this.geometry !== `${frame.stride}x${frame.height}`;
    this.geometry = `${frame.stride}x${frame.height}`;
    planes.forEach(([bytes, width, height], unit) => {
      gl.activeTexture(gl.TEXTURE0 + unit);
      gl.bindTexture(gl.TEXTURE_2D, this.textures[unit]);
      if (resize) {
        gl.texImage2D(gl.TEXTURE_2D, 0, gl.LUMINANCE, width, height, 0, gl.LUMINANCE, gl.UNSIGNED_BYTE, bytes);
      } else {
        gl.texSubImage2D(gl.TEXTURE_2D, 0, 0, 0, width, height, gl.LUMINANCE, gl.UNSIGNED_BYTE, bytes);
      }
    });
    // Padding sits at the right end of every row: sample only the visible part.
    gl.uniform2f(this.crop, frame.width / frame.stride, 1);
    gl.uniform1f(this.chromaEdge, ((frame.width >> 1) - 0.5) / frame.chromaStride);
    const { turn, shift } = shownToFrame(frame);
    gl.uniform4fv(this.turn, turn);
    gl.uniform2fv(this.shift, shift);
    gl.drawArrays(gl.TRIANGLE_STRIP, 0, 4);
  }
}

function clampByte(value) {
  return value < 0 ? 0 : value > 255 ? 255 : value;
}

class CanvasRenderer {
  constructor(canvas) {
    this.kind = '2d';
    this.canvas = canvas;
    this.context = canvas.getContext('2d');
    this.image = null;
    this.unturned = null; // the picture as it arrived, for frames shown turned or mirrored
  }

  draw(frame) {
    const { context } = this;
    const { width, height, stride, chromaStride, y, u, v } = frame;
    if (!this.image || this.image.width !== width || this.image.height !== height) {
      this.image = context.createImageData(width, height);
    }
    const rgba = this.image.data;
    const chromaRows = height >> 1;
    const lastChroma = Math.max(0, (width >> 1) - 1); // an odd width repeats the last column sent
    for (let row = 0; row < height; row += 1) {
      const chromaRow = Math.min(row >> 1, chromaRows - 1) * chromaStride;
      let out = row * width * 4;
      for (let col = 0; col < width; col += 1) {
        const luma = 1.164 * (y[row * stride + col] - 16);
        const c = chromaRow + Math.min(col >> 1, lastChroma);
        const cu = u[c] - 128;
        const cv = v[c] - 128;
        rgba[out] = clampByte(luma + 1.596 * cv);
        rgba[out + 1] = clampByte(luma - 0.391 * cu - 0.813 * cv);
        rgba[out + 2] = clampByte(luma + 2.018 * cu);
        rgba[out + 3] = 255;
        out += 4;
      }
    }
    if (isUpright(frame)) {
      fitCanvas(context.canvas, frame);
      context.putImageData(this.image, 0, 0);
      return;
    }
    this.unturned ??= new OffscreenCanvas(width, height);
    fitCanvas(this.unturned, { width, height });
    this.unturned.getContext('2d').putImageData(this.image, 0, 0);
    drawUpright(context, this.unturned, frame);
  }
}

/** The browser converts and draws: the planes become a VideoFrame (lib/video-frames.js). */
class VideoFrameRenderer {
  constructor(canvas, context) {
    this.kind = 'webcodecs';
    this.canvas = canvas;
    this.context = context;
    this.packer = new VideoFramePacker();
  }

  draw(frame) {
    const picture = this.packer.videoFrame(frame);
    try {
      drawUpright(this.context, picture, frame);
    } finally {
      picture.close();
    }
  }
}

let videoFramesWork = null;

/** Whether this browser makes I420 VideoFrames from memory and draws them (asked once per page). */
function canDrawVideoFrames() {
  if (videoFramesWork === null) {
    videoFramesWork = false;
    if (typeof VideoFrame === 'function') {
      const probe = new VideoFrameRenderer(document.createElement('canvas'), null);
      probe.context = probe.canvas.getContext('2d');
      try {
        probe.draw({
          width: 2, height: 2, stride: 16, chromaStride: 8,
          y: new Uint8Array(32).fill(16), u: new Uint8Array(8).fill(128), v: new Uint8Array(8).fill(128),
        });
        videoFramesWork = true;
      } catch (error) {
        console.warn('This browser does not draw I420 VideoFrames:', error);
      }
    }
  }
  return videoFramesWork;
}

/** A VideoFrame renderer where this browser makes and draws I420 frames, else null. */
function makeVideoFrameRenderer(canvas) {
  if (!canDrawVideoFrames()) return null;
  const context = canvas.getContext('2d', { alpha: false });
  return context ? new VideoFrameRenderer(canvas, context) : null;
}

/** A WebGL renderer, else null (WebGL missing). */
function makeWebGLRenderer(canvas) {
  // preserveDrawingBuffer keeps the picture readable (screenshots, drawImage) between frames.
  const gl = canvas.getContext('webgl', { preserveDrawingBuffer: true, antialias: false });
  return gl ? new WebGLRenderer(canvas, gl) : null;
}

const MAKERS = {
  webcodecs: makeVideoFrameRenderer,
  webgl: makeWebGLRenderer,
  '2d': (canvas) => new CanvasRenderer(canvas),
};

/**
 * Returns a renderer {kind, canvas, draw(frame)} for the canvas: the first kind of RENDERER_KINDS,
 * starting with `preferred`, that works here. A fallback may draw into a fresh copy of the canvas
 * (a canvas that has given out one kind of context cannot give another): use renderer.canvas.
 */
export function createRenderer(canvas, { preferred = RENDERER_KINDS[0] } = {}) {
  const order = [preferred, ...RENDERER_KINDS.filter((kind) => kind !== preferred)];
  for (const kind of order.filter((name) => MAKERS[name])) {
    try {
      const renderer = MAKERS[kind](canvas);
      if (renderer) return renderer;
    } catch (error) {
      // It got a context and failed with it: the next kind needs a canvas without one.
      console.warn(`Drawing video with ${kind} is unavailable here:`, error);
      const fresh = canvas.cloneNode(false);
      canvas.replaceWith(fresh);
      canvas = fresh;
    }
  }
  return new CanvasRenderer(canvas);
}
