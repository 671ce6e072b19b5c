/*
 * yuv-canvas.js: draws the agent's I420 frames on a canvas. WebGL converts YUV to RGB in a
 * fragment shader from three one-channel textures; where WebGL is missing (or refused with
 * preferred = '2d') the conversion runs in JavaScript into a 2D canvas. The canvas takes the
 * frame's size, so one canvas pixel is one picture pixel; scale it with CSS.
 */

const VERTEX_SHADER = `
attribute vec2 position;
uniform vec2 crop;
varying vec2 lumaCoord;
void main() {
  vec2 unit = (position + 1.0) * 0.5;
  lumaCoord = vec2(unit.x * crop.x, 1.0 - unit.y);
  gl_Position = vec4(position, 0.0, 1.0);
}`;

// BT.601 limited range, the usual meaning of camera I420.
const FRAGMENT_SHADER = `
precision mediump float;
uniform sampler2D planeY;
uniform sampler2D planeU;
uniform sampler2D planeV;
varying vec2 lumaCoord;
void main() {
  float y = 1.164 * (texture2D(planeY, lumaCoord).r - 0.0625);
  float u = texture2D(planeU, lumaCoord).r - 0.5;
  float v = texture2D(planeV, lumaCoord).r - 0.5;
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
    if (canvas.width !== frame.width || canvas.height !== frame.height) {
      canvas.width = frame.width;
      canvas.height = frame.height;
    }
    gl.viewport(0, 0, frame.width, frame.height);
    const chromaRows = frame.height >> 1;
    const planes = [
      [frame.y, frame.stride, frame.height],
      [frame.u, frame.chromaStride, chromaRows],
      [frame.v, frame.chromaStride, chromaRows],
    ];
    planes.forEach(([bytes, width, height], unit) => {
      gl.activeTexture(gl.TEXTURE0 + unit);
      gl.bindTexture(gl.TEXTURE_2D, this.textures[unit]);
      gl.texImage2D(gl.TEXTURE_2D, 0, gl.LUMINANCE, width, height, 0, gl.LUMINANCE, gl.UNSIGNED_BYTE, bytes);
    });
    // Padding sits at the right end of every row: sample only the visible part.
    gl.uniform2f(this.crop, frame.width / frame.stride, 1);
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
  }

  draw(frame) {
    const { canvas, context } = this;
    const { width, height, stride, chromaStride, y, u, v } = frame;
    if (canvas.width !== width || canvas.height !== height) {
      canvas.width = width;
      canvas.height = height;
    }
    if (!this.image || this.image.width !== width || this.image.height !== height) {
      this.image = context.createImageData(width, height);
    }
    const rgba = this.image.data;
    const chromaRows = height >> 1;
    for (let row = 0; row < height; row += 1) {
      const chromaRow = Math.min(row >> 1, chromaRows - 1) * chromaStride;
      let out = row * width * 4;
      for (let col = 0; col < width; col += 1) {
        const luma = 1.164 * (y[row * stride + col] - 16);
        const c = chromaRow + (col >> 1);
        const cu = u[c] - 128;
        const cv = v[c] - 128;
        rgba[out] = clampByte(luma + 1.596 * cv);
        rgba[out + 1] = clampByte(luma - 0.391 * cu - 0.813 * cv);
        rgba[out + 2] = clampByte(luma + 2.018 * cu);
        rgba[out + 3] = 255;
        out += 4;
      }
    }
    context.putImageData(this.image, 0, 0);
  }
}

/** Returns a renderer {kind: 'webgl' | '2d', draw(frame)} for the canvas. */
export function createRenderer(canvas, { preferred = 'webgl' } = {}) {
  if (preferred === 'webgl') {
    // preserveDrawingBuffer keeps the picture readable (screenshots, drawImage) between frames.
    const gl = canvas.getContext('webgl', { preserveDrawingBuffer: true, antialias: false });
    if (gl) {
      try {
        return new WebGLRenderer(canvas, gl);
      } catch (error) {
        console.warn('WebGL video drawing unavailable, using the 2D canvas:', error);
      }
    }
    // A canvas that has given out a WebGL context cannot give a 2D one: start from a fresh canvas.
    if (gl) {
      const fresh = canvas.cloneNode(false);
      canvas.replaceWith(fresh);
      canvas = fresh;
    }
  }
  return new CanvasRenderer(canvas);
}
