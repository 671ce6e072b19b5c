// The benchmark's page: draws `count` videos of width x height at `fps`, either streamed by the
// agent through the page library under test (mode=agent: a call with simulated users) or made
// here (mode=own: the same drawing with no agent and no network, what this browser can draw).
// Both draw with the createRenderer() of the build under test; the benchmark counts the draws.
// The agent's frames may also be shown the library's other ways (path): 'page' draws them on the
// page's main thread with createRenderer(), 'canvas' has the library draw them into a canvas
// where the stream is read (its worker), 'track' plays each stream's media track in a <video>
// element, whose presented frames (requestVideoFrameCallback) are counted.
// Query: mode, path, count, width, height, fps, show (CSS size of each canvas, WxH), agent (ws
// URL), renderer (the kind to prefer; the build's default when absent).
import { connect, openStream, frameAge } from '../kelvo-agent.js';
import { createRenderer } from '../yuv-canvas.js';

const params = new URLSearchParams(location.search);
const number = (name, fallback) => Number(params.get(name) ?? fallback);
const count = number('count', 1);
const width = number('width', 640);
const height = number('height', 360);
const fps = number('fps', 30);
const [showWidth, showHeight] = (params.get('show') ?? '640x360').split('x').map(Number);
const options = params.get('renderer') ? { preferred: params.get('renderer') } : undefined;
const path = params.get('path') ?? 'page';

/** A canvas or <video> of the shown size on the page. */
function addView(tag) {
  const view = document.createElement(tag);
  view.style.width = `${showWidth}px`;
  view.style.height = `${showHeight}px`;
  document.getElementById('videos').append(view);
  return view;
}

function makeRenderers() {
  return Array.from({ length: count }, () => createRenderer(addView('canvas'), options));
}

/** A record of draws like measure-draws.js keeps for the page's renderers. */
function drawRecord(kind) {
  const record = { kind, draws: 0, delays: [], width: 0, height: 0 };
  window.benchDraws.push(record);
  return (age, width, height) => {
    if (!window.benchMeasuring) return;
    record.draws += 1;
    record.delays.push(age);
    record.width = width;
    record.height = height;
  };
}

/** Shows the stream without the page's drawing: in a canvas drawn by the library, or its track. */
function showElsewhere(stream) {
  if (path === 'canvas') {
    const drawn = drawRecord('canvas (worker)');
    stream.drawTo(addView('canvas'));
    stream.on('shown', ({ age, width, height }) => drawn(age, width, height));
    return;
  }
  const drawn = drawRecord('track (<video>)');
  const video = addView('video');
  video.muted = true;
  video.srcObject = new MediaStream([stream.track]);
  video.play();
  // The track's frames carry the agent's timestamp (ms) as their time.
  const presented = (now, { mediaTime, width, height }) => {
    drawn(frameAge(Math.round(mediaTime * 1000)), width, height);
    video.requestVideoFrameCallback(presented);
  };
  video.requestVideoFrameCallback(presented);
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
async function drawAgentFrames() {
  const renderers = path === 'page' ? makeRenderers() : [];
  const agent = await connect(params.get('agent'));
  await agent.request('initialize', { appID: 'video-bench' });
  await agent.request('joinChannel', { channelKey: '', channelName: 'video-bench', uid: 1 });
  const peers = Array.from({ length: count }, (_, i) => 100 + i);
  const set = (parameters) => agent.request('setParameters', { parameters: JSON.stringify(parameters) });
  await set({ 'sim.video': { width, height, fps } });
  for (const uid of peers) await set({ 'sim.peer.add': { uid, video: true } });
  window.benchStreams = await Promise.all(peers.map((uid, i) =>
    openStream(agent.url, { uid }, path === 'page' ? (frame) => renderers[i].draw(frame) : null)));
  if (path !== 'page') window.benchStreams.forEach(showElsewhere);
  window.benchAgent = agent;
}

async function main() {
  if (params.get('mode') === 'own') drawOwnFrames(makeRenderers());
  else await drawAgentFrames();
  document.body.dataset.ready = 'true';
}

main().catch((error) => {
  document.body.dataset.error = error.message;
});
