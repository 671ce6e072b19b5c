// A page written in TypeScript against the package: checked with tsc --noEmit, in the source tree
// (the package refers to itself by name) and against the packed package installed elsewhere. The
// lines marked as expected errors are mistakes the types must catch.
import {
  AgentError, openSession, describeCode, frameAge, decodeTitle,
  type AgentErrorReason, type AgentSession, type I420Frame, type StreamEndReason, type VideoView,
} from 'kelvo-web-agent';
import { createRenderer, type RendererKind } from 'kelvo-web-agent/yuv-canvas';

const videos = document.querySelector<HTMLDivElement>('#videos')!;
const status = document.querySelector<HTMLParagraphElement>('#status')!;

/** A canvas per video, removed when its stream ends. */
function canvasView(title: string, preferred?: RendererKind): VideoView {
  const canvas = document.createElement('canvas');
  canvas.title = title;
  videos.append(canvas);
  const renderer = createRenderer(canvas, preferred === undefined ? {} : { preferred });
  return {
    draw(frame: I420Frame) {
      renderer.draw(frame);
      canvas.dataset.age = String(frameAge(frame.timestamp));
    },
    end(reason: StreamEndReason) {
      renderer.canvas.remove();
      console.log(`${title}: ${reason}`);
    },
  };
}

/** Advice by reason: the switch must cover every reason the library has. */
function adviceFor(reason: AgentErrorReason): string {
  switch (reason) {
    case 'not-running': return 'Start the agent.';
    case 'certificate': return 'Trust the agent\'s certificate.';
    case 'refused-host': return 'Use 127.0.0.1.';
    case 'blocked-by-browser': return 'Allow this site to reach this computer.';
    case 'refused-by-user': return 'Allow this site in the agent.';
    case 'timeout': case 'closed': case 'refused-by-agent': case 'incompatible-agent': case 'busy':
    case 'not-ready': case 'wrong-connection': case 'engine-unavailable': case 'invalid-request':
    case 'nothing-found': case 'too-many-videos': case 'join-failed': case 'connection-lost': case 'engine':
      return '';
    default: {
      const unknown: never = reason;
      return unknown;
    }
  }
}

async function call(signal: AbortSignal): Promise<AgentSession> {
  const session = await openSession({ appID: 'typed-example', signal });
  if (session.agentInfo.outdated) status.textContent = session.agentInfo.notice;
  const remote = session.followRemoteVideos((uid) => canvasView(`User ${uid}`), { viewWidth: 640, viewHeight: 360 });
  remote.on('add', ({ uid, stream }) => stream.on('stats', ({ fps, skipped }) => {
    status.textContent = `user ${uid}: ${fps} fps, ${skipped} skipped`;
  }));
  remote.on('remove', ({ uid, reason }) => console.log(uid, reason));
  session.on('onUserMuteVideo', ({ uid, muted }) => console.log(uid, muted));
  session.on('error', ({ code }) => { status.textContent = describeCode(code); });
  session.addEventListener('left', () => console.log('left'));

  const { uid } = await session.join('typed-room', { signal });
  const { version } = await session.request('getVersion');
  const { devices } = await session.request('getDevices', {}, { timeoutMs: 5000 });
  const { windows } = await session.request('getWindows');
  console.log(uid, version, devices.map((d) => d.kind), windows.map((w) => decodeTitle(w.title)));
  await session.request('setParameters', { parameters: JSON.stringify({ 'sim.peer.add': { uid: 7, video: true } }) });
  const camera = await session.openCamera(canvasView('You'), { signal });
  await camera.setViewSize(320, 240);
  const next = await session.once('onPeerLeave', { signal });
  console.log(next.uid, next.reason, remote.get(next.uid)?.endReason, remote.uids);

  // @ts-expect-error joinChannel needs its channelKey ('' where the channel has none)
  await session.request('joinChannel', { channelName: 'x' });
  // @ts-expect-error a channel's name is text
  await session.join(42);
  // @ts-expect-error no such reason
  const wrong: AgentErrorReason = 'not-found';
  console.log(wrong);
  return session;
}

const controller = new AbortController();
call(controller.signal).then(
  (session) => { session.dispose(); },
  (error: unknown) => {
    if (error instanceof AgentError) status.textContent = `${error.message} ${adviceFor(error.reason)} ${error.advice}`;
    else throw error;
  });
