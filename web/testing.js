/*
 * kelvo-web-agent/testing: play the other people in a call with the stand-in engine that the
 * agent's source builds (engine/README.md lists its "sim." keys). A page or test on a machine
 * without the real engine adds remote users with video, mutes them and lets them leave, through
 * the session's own control connection ("setParameters"). The real engine ignores these keys.
 *
 *   import { simulateUser, simulateLeave } from 'kelvo-web-agent/testing';
 *   await simulateUser(session, { uid: 5, width: 640, height: 360, fps: 30 });
 *   await simulateLeave(session, 5);
 */

/** Sends one "setParameters" with the stand-in's keys. */
function simulate(session, parameters, options) {
  return session.request('setParameters', { parameters: JSON.stringify(parameters) }, options);
}

/**
 * A remote user joins the channel (the session must be joined), with video unless video is
 * false. width, height and fps set the stand-in's frames, for every user's video from then on.
 */
export async function simulateUser(session, {
  uid, video = true, width, height, fps,
} = {}, options) {
  const geometry = Object.fromEntries(Object.entries({ width, height, fps }).filter(([, value]) => value !== undefined));
  if (Object.keys(geometry).length > 0) await simulate(session, { 'sim.video': geometry }, options);
  await simulate(session, { 'sim.peer.add': { uid, video } }, options);
}

/** The remote user leaves the channel ("onPeerLeave"); their frames stop. */
export function simulateLeave(session, uid, options) {
  return simulate(session, { 'sim.peer.remove': uid }, options);
}

/** The remote user pauses (true) or resumes their video ("onUserMuteVideo"). */
export function simulateVideoMuted(session, uid, muted, options) {
  return simulate(session, { 'sim.peer.mute_video': { uid, muted } }, options);
}

/** The remote user mutes (true) or unmutes their microphone ("onUserMuteAudio"). */
export function simulateAudioMuted(session, uid, muted, options) {
  return simulate(session, { 'sim.peer.mute_audio': { uid, muted } }, options);
}

/** The remote user switches their video off or on ("onUserEnableVideo"). */
export function simulateVideoEnabled(session, uid, enabled, options) {
  return simulate(session, { 'sim.peer.enable_video': { uid, enabled } }, options);
}

/** The stand-in's frames from now on: size, rate, row padding (stride), rotation, mirroring. */
export function simulateVideo(session, geometry, options) {
  return simulate(session, { 'sim.video': geometry }, options);
}

/** The engine sends one event: simulateEvent(session, 'error', {code: 17}). */
export function simulateEvent(session, callback, members = {}, options) {
  return simulate(session, { 'sim.emit': { callback, ...members } }, options);
}

/** The engine's next call of `operation` fails with `code`. */
export function simulateFailure(session, operation, code, options) {
  return simulate(session, { 'sim.fail_next': { op: operation, code } }, options);
}

/** Replaces the stand-in's device lists ({videoinput, audiooutput, audioinput}, each [{id, name}]). */
export function simulateDevices(session, lists, options) {
  return simulate(session, { 'sim.devices': lists }, options);
}
