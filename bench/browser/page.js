// The benchmark's page: draws `count` videos of width x height at `fps`, either streamed by the
// agent through the page library under test (mode=agent: a call with simulated users) or made
// here (mode=own: the same drawing with no agent and no network, what this browser can draw).
// Both draw with the createRenderer() of the build under test; the benchmark counts the draws.
// Query: mode, count, width, height, fps, show (CSS size of each canvas, WxH), agent (ws URL),
// renderer (the kind to prefer; the build's default when absent).
import { connect, openStream } from '../kelvo-agent.js';
import { createRenderer } from '../yuv-canvas.js';

const params = new URLSearchParams(location.search);
const number = (name, fallback) => Number(params.get(name) ?? fallback);
const count = number('count', 1);
const width = number('width', 640);
const height = number('height', 360);
const fps = number('fps', 30);
const [showWidth, showHeight] = (params.get('show') ?? '640x360').split('x').map(Number);
const options = params.get('renderer') ? { preferred: params.get('renderer') } : undefined;

function makeRenderers() {
  return Array.from({ length: count }, () => {
    const canvas = document.createElement('canvas');
    canvas.style.width = `${showWidth}px`;
    canvas.style.height = `${showHeight}px`;
    document.getElementById('videos').append(canvas);
    return createRenderer(canvas, options);
  });
}

/** A few different I420 pictures in the agent's layout (rows padded to 16 bytes). */
function makePictures(total) {
  const stride = Math.ceil(width / 16) * 16;
  const chromaStride = stride / 2;
  const chromaRows = height >> 1;
  return Array.from({ length: total }, (_, k) => {
    const y = new Uint8Array(stride * height);
    for (let row = 0; row < height; row += 1) {
      for (let col = 0; col < width; col += 1) y[row * stride + col] = (col + row + 8 * k) & 0xff;
    }
    const u = new Uint8Array(chromaStride * chromaRows).fill(128 + k);
    const v = new Uint8Array(chromaStride * chromaRows).fill(128 - k);
    return { width, height, stride, chromaStride, rotation: 0, mirrored: false, y, u, v };
  });
}

/**
 * Frames made at `fps` per canvas as an engine would, each drawn at the next animation frame if no
 * newer one has been made by then: the same newest-frame rule, without the agent and the network.
 */
function drawOwnFrames(renderers) {
  const pictures = makePictures(4);
  const period = 1000 / fps;
  const start = Date.now();
  let drawn = -1;
  const tick = () => {
    const made = Math.floor((Date.now() - start) / period);
    if (made > drawn) {
      drawn = made;
      const timestamp = (start + made * period) % 0x100000000;
      renderers.forEach((renderer, i) => renderer.draw({ ...pictures[(made + i) % pictures.length], timestamp }));
    }
    requestAnimationFrame(tick);
  };
  requestAnimationFrame(tick);
}

/** A call with `count` simulated users sending video of the asked size; one stream each. */
async function drawAgentFrames(renderers) {
  const agent = await connect(params.get('agent'));
  await agent.request('initialize', { appID: 'video-bench' });
  await agent.request('joinChannel', { channelKey: '', channelName: 'video-bench', uid: 1 });
  const peers = renderers.map((_, i) => 100 + i);
  const set = (parameters) => agent.request('setParameters', { parameters: JSON.stringify(parameters) });
  await set({ 'sim.video': { width, height, fps } });
  for (const uid of peers) await set({ 'sim.peer.add': { uid, video: true } });
  window.benchStreams = await Promise.all(peers.map((uid, i) =>
    openStream(agent.url, { uid }, (frame) => renderers[i].draw(frame))));
  window.benchAgent = agent;
}

async function main() {
  const renderers = makeRenderers();
  if (params.get('mode') === 'own') drawOwnFrames(renderers);
  else await drawAgentFrames(renderers);
  document.body.dataset.ready = 'true';
}

main().catch((error) => {
  document.body.dataset.error = error.message;
});
