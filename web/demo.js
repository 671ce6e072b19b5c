// The demo page: a session of kelvo-agent.js follows the call and its videos, drawn with
// yuv-canvas.js. Query parameters: ?agent=<ws url> preselects the agent, ?plain=<ws url> names its
// plain address when a wss:// one is chosen on another port than 8921 (to tell an untrusted
// certificate from an agent that is not running), ?renderer=webcodecs|webgl|2d chooses how video
// is drawn first (see yuv-canvas.js).
import { openSession, frameCounter, decodeTitle, describeCode } from './kelvo-agent.js';
import { createRenderer, RENDERER_KINDS } from './yuv-canvas.js';
import { simulateUser, simulateLeave } from './testing.js';

const $ = (id) => document.getElementById(id);
const params = new URLSearchParams(location.search);
const preferredRenderer = RENDERER_KINDS.includes(params.get('renderer')) ? params.get('renderer') : undefined;
/** How long a tile's size must stay put before its videos are asked for the new size. */
const RESIZE_SETTLE_MS = 250;
if (params.get('agent')) $('agent-url').value = params.get('agent');

const state = {
  session: null,
  remote: null, // the session's remote videos
  joined: false,
  channel: '',
  ownUid: 0,
  tiles: new Map(), // uid -> tile record (0 is the own camera)
  simulated: new Set(),
};

// ---- words on the screen -------------------------------------------------------------------

function setStatus(text, name) {
  $('status').textContent = text;
  $('status').dataset.state = name;
}

/** Shows what went wrong and, for the library's errors, what to do about it. */
function showError(error) {
  const text = typeof error?.message === 'string' ? error.message : String(error);
  const capitalised = text.charAt(0).toUpperCase() + text.slice(1);
  $('error-text').textContent = capitalised.endsWith('.') ? capitalised : `${capitalised}.`;
  $('advice').textContent = error?.advice ?? '';
  $('hint').textContent = error?.developerHint ? `For the page's developer: ${error.developerHint}` : '';
  $('error').dataset.reason = error?.reason ?? '';
  $('error').hidden = false;
  log(text, 'error');
}

function clearError() {
  $('error').hidden = true;
}

function log(text, kind = 'info') {
  const item = document.createElement('li');
  item.className = kind;
  item.textContent = `${new Date().toLocaleTimeString()}  ${text}`;
  $('log').prepend(item);
  while ($('log').children.length > 60) $('log').lastChild.remove();
}

function plural(count, noun) {
  return `${count} ${noun}${count === 1 ? '' : 's'}`;
}

function refreshControls() {
  const ready = state.session !== null;
  $('initialize').disabled = ready;
  $('disconnect').disabled = !ready;
  $('agent-url').disabled = ready;
  $('app-id').disabled = ready;
  $('channel-panel').disabled = !ready;
  $('device-panel').disabled = !ready;
  $('share-panel').disabled = !ready;
  $('join').disabled = state.joined;
  $('leave').disabled = !state.joined;
  $('camera').disabled = !ready; // also before joining: a lobby where the user checks the camera
  $('camera').textContent = state.tiles.has(0) ? 'Hide my camera' : 'Show my camera';
  $('simulate-panel').disabled = !state.joined;
  $('videos-empty').hidden = state.tiles.size > 0;
  if (!ready) setStatus('Not connected to the agent.', 'disconnected');
  else if (state.joined) setStatus(`In channel “${state.channel}” as user ${state.ownUid}.`, 'joined');
  else setStatus('Connected; the engine is ready. Join a channel.', 'ready');
}

/** Runs a button's work: clears the last error, shows a failure in words. */
function action(button, work) {
  $(button).addEventListener('click', async () => {
    clearError();
    try {
      await work();
    } catch (error) {
      showError(error);
    }
    refreshControls();
  });
}

// ---- agent and engine ----------------------------------------------------------------------

async function initialize() {
  const url = $('agent-url').value.trim();
  setStatus(`Connecting to the agent at ${url} and starting the engine… (the first time, the agent asks you ` +
    'whether this site may use it)', 'connecting');
  const session = await openSession({
    url, appID: $('app-id').value, ...(params.get('plain') ? { plainUrl: params.get('plain') } : {}),
  });
  state.session = session;
  listen(session);
  const info = session.agentInfo;
  log(`Connected to ${url} and initialized the engine.`);
  if (info.outdated) log(info.notice, 'warning');
  const agentText = info.outdated ? 'Agent of an older release' : `Agent ${info.agentVersion}, protocol ${info.protocolVersion}`;
  $('version').textContent = agentText;
  session.request('getVersion').then(
    (reply) => { $('version').textContent = `${agentText} · Engine version ${reply.version}`; },
    () => {});
}

function listen(session) {
  state.remote = session.followRemoteVideos((uid) => {
    const tile = makeTile(uid);
    addRemoteButtons(tile);
    log(`User ${uid} has video: subscribing.`);
    return tileView(tile);
  });
  state.remote.on('add', ({ uid, stream }) => {
    const tile = state.tiles.get(uid);
    if (tile) tile.stream = stream;
  });
  state.remote.on('error', ({ uid, error }) => {
    log(`The video of user ${uid} cannot be shown.`, 'error');
    showError(error);
  });
  session.on('onAddVideoStream', ({ uid }) => {
    const tile = state.tiles.get(uid);
    if (!tile) return;
    tile.node.dataset.announcements = String(Number(tile.node.dataset.announcements) + 1);
    if (tile.stream !== null) log(`Video of user ${uid} is running again.`);
  });
  session.on('onPeerLeave', ({ uid, reason }) => {
    log(`User ${uid} left (reason ${reason}).`);
    state.simulated.delete(uid);
    renderSimulated();
  });
  session.on('onUserMuteVideo', ({ uid, muted }) => log(`User ${uid} ${muted ? 'paused' : 'resumed'} their video.`));
  session.on('onUserMuteAudio', ({ uid, muted }) => log(`User ${uid} ${muted ? 'muted' : 'unmuted'} their microphone.`));
  session.on('onUserEnableVideo', ({ uid, enabled }) => log(`User ${uid} turned their camera ${enabled ? 'on' : 'off'}.`));
  session.on('warning', ({ code }) => log(`Engine warning ${code}.`, 'warning'));
  session.on('error', ({ code }) => showError(`Engine error: ${describeCode(code)}.`));
  session.on('onRequestChannelKey', () => log('The channel key expires: renew it.', 'warning'));
  session.on('onCameraReady', () => log('The camera is ready.'));
  session.on('onVideoStopped', () => log('The video stopped.'));
  session.on('onRejoinChannelSuccess', ({ channel, uid }) => log(`Rejoined “${channel}” as user ${uid}.`));
  session.on('reply', (message) => {
    if (message.command !== 'leaveChannel') log(`Agent: ${JSON.stringify(message)}`);
  });
  session.on('left', () => {
    channelLeft();
    log('Left the channel.');
    refreshControls();
  });
  session.on('statechange', ({ state: now, previous }) => {
    if (now === 'reconnecting') setStatus('The agent went away: connecting again…', 'reconnecting');
    else if (previous === 'reconnecting' || (now === 'joined' && previous === 'joining')) refreshControls();
  });
  session.on('close', () => {
    if (state.session !== session) return;
    state.session = null;
    channelLeft();
    const why = session.closeError;
    showError(why ? {
      message: `The connection to the agent closed: ${why.message}`, advice: why.advice,
      developerHint: why.developerHint, reason: why.reason,
    } : 'The connection to the agent closed. Connect again to go on.');
    refreshControls();
  });
}

function disconnect() {
  const session = state.session;
  state.session = null;
  session?.close();
  channelLeft();
  log('Disconnected; the agent has stopped the engine.');
}

async function join() {
  const channel = $('channel-name').value.trim();
  const uid = Number($('own-uid').value) >>> 0;
  const reply = await state.session.join(channel, { uid });
  state.joined = true;
  state.channel = channel;
  state.ownUid = reply.uid;
  log(`Joined “${channel}” as user ${reply.uid}.`);
}

async function leave() {
  await state.session.leave();
}

/** The session ends every video when the channel is left; the simulated users are gone too. */
function channelLeft() {
  state.joined = false;
  state.simulated.clear();
  renderSimulated();
}

// ---- videos --------------------------------------------------------------------------------

/** What a tile gives the session: the size it shows, where frames go, and its end. */
function tileView(tile) {
  tile.asked = viewSize(tile);
  return {
    ...tile.asked,
    draw: (frame) => drawFrame(tile, frame),
    end: (reason) => {
      if (reason !== 'stopped' && reason !== 'left-channel' && reason !== 'session-ended') {
        log(`The video of ${tile.uid === 0 ? 'your camera' : `user ${tile.uid}`} ended: ${reason}.`);
      }
      removeTile(tile.uid, tile);
    },
  };
}

function makeTile(uid) {
  const node = $('tile-template').content.firstElementChild.cloneNode(true);
  node.dataset.uid = String(uid);
  node.dataset.frameCounter = '';
  node.dataset.timestamp = '';
  node.dataset.frames = '0';
  node.dataset.announcements = '0';
  node.querySelector('.who').textContent = uid === 0 ? 'You' : `User ${uid}`;
  const renderer = createRenderer(node.querySelector('canvas'), { preferred: preferredRenderer });
  node.dataset.renderer = renderer.kind;
  $('videos').append(node);
  const tile = {
    uid, node, renderer, stream: null, asked: { viewWidth: 0, viewHeight: 0 }, muted: false, frames: 0, lastFrames: 0, fps: null,
  };
  tile.timer = setInterval(() => measure(tile), 1000);
  watchSize(tile);
  state.tiles.set(uid, tile);
  return tile;
}

/** The size the tile shows its video at, in device pixels. */
function viewSize(tile) {
  const box = tile.node.querySelector('.screen').getBoundingClientRect();
  const scale = window.devicePixelRatio || 1;
  return { viewWidth: Math.round(box.width * scale), viewHeight: Math.round(box.height * scale) };
}

/**
 * The engine makes pictures of the size they are shown at: when the layout changes a tile's size
 * (window, zoom, tiles coming and going), its stream asks for the new size once it has settled.
 * tile.asked is the size last asked for; an observation of that same size asks nothing.
 */
function watchSize(tile) {
  let settle = null;
  tile.resizes = new ResizeObserver(() => {
    clearTimeout(settle);
    settle = setTimeout(() => {
      const { viewWidth, viewHeight } = viewSize(tile);
      if (!tile.stream?.open || viewWidth === 0 || viewHeight === 0) return;
      if (viewWidth === tile.asked.viewWidth && viewHeight === tile.asked.viewHeight) return;
      tile.asked = { viewWidth, viewHeight };
      tile.stream.setViewSize(viewWidth, viewHeight).catch((error) => log(
        `Could not ask for ${viewWidth}×${viewHeight} video of user ${tile.uid}: ${error.message}`, 'warning'));
    }, RESIZE_SETTLE_MS);
  });
  tile.resizes.observe(tile.node.querySelector('.screen'));
}

function drawFrame(tile, frame) {
  tile.renderer.draw(frame);
  tile.frames += 1;
  const counter = frameCounter(frame);
  const canvas = tile.renderer.canvas;
  const turn = `rotate(${frame.rotation}deg)${frame.mirrored ? ' scaleX(-1)' : ''}`;
  if (canvas.style.transform !== turn) canvas.style.transform = turn;
  tile.node.dataset.frameCounter = counter === null ? '' : String(counter);
  tile.node.dataset.timestamp = String(frame.timestamp);
  tile.node.dataset.frames = String(tile.frames);
  const delay = tile.stream?.stats.latency ? ` · ${tile.stream.stats.latency} ms behind` : '';
  tile.node.querySelector('.info').textContent =
    `${frame.width}×${frame.height} · frame ${counter ?? '?'}${tile.fps === null ? '' : ` · ${tile.fps} fps`}${delay}`;
}

/** Once a second: the frame rate on screen (the stream reports its own figures to the agent). */
function measure(tile) {
  tile.fps = tile.frames - tile.lastFrames;
  tile.lastFrames = tile.frames;
  if (tile.fps === 0 && tile.frames > 0) {
    tile.node.querySelector('.info').textContent = tile.muted ? 'video paused' : 'no new frames';
  }
}

function removeTile(uid, which = state.tiles.get(uid)) {
  const tile = state.tiles.get(uid);
  if (!tile || tile !== which) return;
  state.tiles.delete(uid);
  clearInterval(tile.timer);
  tile.resizes.disconnect();
  tile.stream?.stop();
  tile.node.remove();
  refreshControls();
}

async function toggleCamera() {
  const own = state.tiles.get(0);
  if (own) {
    own.stream?.stop(); // the session switches the camera off with it
    removeTile(0);
    log('Camera off.');
    return;
  }
  const tile = makeTile(0);
  refreshControls();
  try {
    tile.stream = await state.session.openCamera(tileView(tile));
  } catch (error) {
    removeTile(0, tile);
    throw error;
  }
  log('Camera on.');
}

function addRemoteButtons(tile) {
  const mute = document.createElement('button');
  mute.className = 'mute';
  mute.textContent = 'Mute video';
  mute.addEventListener('click', async () => {
    clearError();
    const muted = !tile.muted;
    try {
      await state.session.request(muted ? 'disableVideo' : 'enableVideo', { streamID: tile.uid });
      tile.muted = muted;
      tile.node.dataset.muted = String(muted);
      mute.textContent = muted ? 'Unmute video' : 'Mute video';
      log(`${muted ? 'Muted' : 'Unmuted'} the video of user ${tile.uid}.`);
    } catch (error) {
      showError(error);
    }
  });
  tile.node.querySelector('.tile-buttons').append(mute);
}

// ---- simulated users -----------------------------------------------------------------------

async function addSimulated() {
  const uid = Number($('sim-uid').value) >>> 0;
  if (uid === 0) throw new Error('A simulated user needs a user id other than 0.');
  await simulateUser(state.session, { uid });
  state.simulated.add(uid);
  $('sim-uid').value = String(uid + 1);
  log(`Added simulated user ${uid}.`);
  renderSimulated();
}

function renderSimulated() {
  const list = $('sim-users');
  list.replaceChildren(...[...state.simulated].map((uid) => {
    const item = document.createElement('li');
    item.textContent = `User ${uid} `;
    const remove = document.createElement('button');
    remove.textContent = 'Remove';
    remove.dataset.uid = String(uid);
    remove.addEventListener('click', async () => {
      clearError();
      try {
        await simulateLeave(state.session, uid);
      } catch (error) {
        showError(error);
      }
    });
    item.append(remove);
    return item;
  }));
}

// ---- devices and windows -------------------------------------------------------------------

async function listDevices() {
  const reply = await state.session.request('getDevices');
  for (const kind of ['videoinput', 'audiooutput', 'audioinput']) {
    const select = $(`devices-${kind}`);
    select.replaceChildren(...reply.devices.filter((d) => d.kind === kind)
      .map((d) => new Option(d.label || d.deviceId, d.deviceId)));
  }
  log(`Found ${plural(reply.devices.length, 'device')}.`);
}

async function selectDevice(select) {
  const deviceId = select.value;
  if (!deviceId) return;
  await state.session.request('selectDevice', { device: { deviceId, kind: select.dataset.kind } });
  log(`Now using ${select.selectedOptions[0].text}.`);
}

async function listWindows() {
  const reply = await state.session.request('getWindows');
  $('windows').replaceChildren(...reply.windows.map((w) => new Option(decodeTitle(w.title), w.windowId)));
  log(`Found ${plural(reply.windows.length, 'window')} to share.`);
}

async function startSharing() {
  const select = $('windows');
  if (!select.value) throw new Error('List the windows first and pick one.');
  await state.session.request('startScreenSharing', { window: select.value });
  log(`Sharing “${select.selectedOptions[0].text}”.`);
}

async function stopSharing() {
  await state.session.request('stopScreenSharing');
  log('Stopped sharing.');
}

// ---- wiring --------------------------------------------------------------------------------

action('initialize', initialize);
action('disconnect', disconnect);
action('join', join);
action('leave', leave);
action('camera', toggleCamera);
action('sim-add', addSimulated);
action('devices-refresh', listDevices);
action('windows-refresh', listWindows);
action('share-start', startSharing);
action('share-stop', stopSharing);
for (const kind of ['videoinput', 'audiooutput', 'audioinput']) {
  $(`devices-${kind}`).addEventListener('change', async (event) => {
    clearError();
    try {
      await selectDevice(event.target);
    } catch (error) {
      showError(error);
    }
  });
}
refreshControls();
// For trying commands from the browser's console: await kelvoDemo.agent.request('getVersion').
window.kelvoDemo = {
  get agent() { return state.session; },
  stream: (uid) => state.tiles.get(uid)?.stream ?? null,
};
document.body.dataset.ready = 'true';
