// A page written in TypeScript against the package: checked with tsc --noEmit, in the source tree
// (the package refers to itself by name) and against the packed package installed elsewhere. The
// lines marked as expected errors are mistakes the types must catch.
import {
  AgentError, openSession, describeCode, frameAge, decodeTitle,
  type AgentErrorReason, type AgentSession, type I420Frame, type StreamEndReason, type VideoView,
  type SessionOptions,
} from 'kelvo-web-agent';
import { simulateUser, simulateLeave } from 'kelvo-web-agent/testing';
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
    case 'refused-by-user': case 'blocked': case 'not-asked-yet': case 'dismissed': case 'question-timeout':
    case 'too-many-questions': case 'cannot-ask': case 'null-origin': case 'sites-unreadable': case 'other-site':
      return 'Allow this site in the agent.';
    case 'not-the-agent': case 'wrong-scheme': return 'Check the address.';
    case 'agent-quit': case 'site-blocked': case 'agent-lost': return 'Start the agent and reload.';
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

/** Options as a page builds them, some left undefined (exactOptionalPropertyTypes). */
function sessionOptions(url: string | undefined, workerUrl: string | undefined, signal: AbortSignal): SessionOptions {
  return { appID: 'typed-example', url, workerUrl, signal, reconnect: { maxDelayMs: 2000 } };
}

async function call(signal: AbortSignal): Promise<AgentSession> {
  const session = await openSession(sessionOptions(undefined, undefined, signal));
  session.on('statechange', ({ state, reason, error }) => {
    if (state === 'closed') status.textContent = `${reason}: ${error?.advice ?? ''}`;
    else if (state === 'reconnecting') status.textContent = 'Connecting again…';
  });
  if (session.agentInfo.outdated) status.textContent = session.agentInfo.notice;
  const remote = session.followRemoteVideos((uid) => canvasView(`User ${uid}`), { viewWidth: 640, viewHeight: 360 });
  remote.on('add', ({ uid, stream }) => stream.on('stats', ({ fps, skipped }) => {
    status.textContent = `user ${uid}: ${fps} fps, ${skipped} skipped`;
  }));
  remote.on('remove', ({ uid, reason }) => console.log(uid, reason));
  session.on('onUserMuteVideo', ({ uid, muted }) => console.log(uid, muted));
  session.on('error', ({ code, error }) => { status.textContent = `${describeCode(code)} ${error.developerHint}`; });
  session.addEventListener('left', () => console.log('left'));
  session.on('left', ({ reason }) => console.log(reason === 'engine' ? 'the engine left' : reason));

  const { uid } = await session.join('typed-room', { signal });
  const { version } = await session.request('getVersion');
  const { devices } = await session.request('getDevices', {}, { timeoutMs: 5000 });
  const { windows } = await session.request('getWindows');
  console.log(uid, version, devices.map((d) => d.kind), windows.map((w) => decodeTitle(w.title)));
  await simulateUser(session, { uid: 7, width: 640, height: 360, fps: 30 });
  const camera = await session.openCamera(canvasView('You'), { signal });
  camera.on('pause', ({ reason }) => console.log(reason));
  await camera.setViewSize(320, 240);
  await session.setMicrophoneMuted(true);
  await session.setCameraEnabled(false);
  await session.setRemoteVideoMuted(7, true);
  await simulateLeave(session, 7);
  const newer = await session.requestAny('someNewerCommand', { value: 1 });
  console.log(newer.code);
  const next = await session.once('onPeerLeave', { signal });
  console.log(next.uid, next.reason, remote.get(next.uid)?.endReason, remote.uids);

  // @ts-expect-error joinChannel needs its channelKey ('' where the channel has none)
  await session.request('joinChannel', { channelName: 'x' });
  // @ts-expect-error a channel's name is text
  await session.join(42);
  // @ts-expect-error no such reason
  const wrong: AgentErrorReason = 'not-found';
  console.log(wrong);
  // @ts-expect-error a typo in a command's name: requestAny is for commands without types
  await session.request('muteLocl');
  // @ts-expect-error an application id or a key is needed
  await openSession({ url: 'ws://127.0.0.1:8922' });
  // @ts-expect-error not both
  await openSession({ appID: 'a', key: 'b' });
  const frameRotation = (frame: I420Frame) => {
    // @ts-expect-error a rotation is 0, 90, 180 or 270
    const sideways: I420Frame['rotation'] = 45;
    return frame.rotation === 90 || frame.rotation === 270 || sideways;
  };
  console.log(frameRotation);
  return session;
}

const controller = new AbortController();
call(controller.signal).then(
  (session) => { session.dispose(); },
  (error: unknown) => {
    if (error instanceof AgentError) status.textContent = `${error.message} ${adviceFor(error.reason)} ${error.advice}`;
    else throw error;
  });
