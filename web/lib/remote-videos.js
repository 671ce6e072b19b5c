// Every remote user's video in a session, one stream per user (session.followRemoteVideos()).
//
// The agent announces a remote video with "onAddVideoStream": when the user's video becomes
// available, and again when a video the page muted runs again. So a user whose stream is open or
// opening keeps it; a second stream for the same user would replace the first at the agent and
// leave it silent. The stream ends when the user leaves ("onPeerLeave", reason 'peer-left'), and
// with the channel or the session (the session ends its streams); the next announcement opens a
// new one.
//
// A user who is in the call without video (joined with the camera off, or paused it before
// their video was shown) has no stream; 'without-video' ({uid}) tells of them, so that the page
// can show the user anyway. A user whose stream is shown and who pauses their video keeps the
// stream, which is muted meanwhile (VideoStream 'mute' and 'unmute').
//
// While the session reconnects the streams are paused, not ended. Once it has rejoined, each user
// whose video is announced again goes on in the same stream; a user not announced within
// peerWaitMs (10 s by default) has left meanwhile, and their stream ends ('peer-left').
//
// Events: 'add' ({uid, stream}) once a user's stream is open, 'remove' ({uid, reason}) when it
// ended or never opened, 'error' ({uid, error}) when it could not be opened, 'without-video'
// ({uid}).

import { AgentEvents } from './events.js';

export class RemoteVideos extends AgentEvents {
  constructor(session, createView, options = {}) {
    super();
    this.session = session;
    this.createView = createView;
    this.options = options;
    this.users = new Map(); // uid -> {view, stream (null while opening), opening: AbortController}
    this.announced = new Set(); // users announced since the last rejoin
    this.peerWait = null;
    this.unsubscribe = [
      session.on('onAddVideoStream', ({ uid }) => this.add(uid)),
      session.on('onPeerLeave', ({ uid }) => this.remove(uid, 'peer-left')),
      session.on('onUserEnableVideo', ({ uid, enabled }) => this.videoOff(uid, enabled === false)),
      session.on('onUserMuteVideo', ({ uid, muted }) => this.videoOff(uid, muted === true)),
      session.on('joined', ({ resumed }) => { if (resumed) this.awaitPeers(); }),
    ];
  }

  videoOff(uid, off) {
    if (off && !this.users.has(uid)) this.emit('without-video', { uid });
  }

  /** After a rejoin: the users who do not come back within peerWaitMs have left. */
  awaitPeers() {
    this.announced.clear();
    clearTimeout(this.peerWait);
    this.peerWait = setTimeout(() => {
      for (const uid of this.uids) if (!this.announced.has(uid)) this.remove(uid, 'peer-left');
    }, this.options.peerWaitMs ?? 10000);
  }

  /** The open stream of a user, or null. */
  get(uid) {
    return this.users.get(uid)?.stream ?? null;
  }

  /** The users shown (also those whose stream is still opening). */
  get uids() {
    return [...this.users.keys()];
  }

  async add(uid) {
    this.announced.add(uid);
    if (this.users.has(uid) || this.session.state === 'closed') return;
    const user = { view: this.createView(uid), stream: null, opening: new AbortController() };
    this.users.set(uid, user);
    try {
      const { signal } = user.opening;
      const { peerWaitMs, ...options } = this.options;
      user.stream = await this.session.openStream(uid, user.view, { ...options, signal });
    } catch (error) {
      const reason = user.opening.signal.aborted ? user.opening.signal.reason : 'failed';
      this.forget(uid, user, reason);
      user.view.end?.(reason);
      if (reason === 'failed') this.emit('error', { uid, error });
      return;
    }
    if (user.stream.endReason !== null) { // the channel or session ended while it opened
      this.forget(uid, user, user.stream.endReason);
      return;
    }
    user.stream.once('end', ({ reason }) => this.forget(uid, user, reason));
    this.emit('add', { uid, stream: user.stream });
  }

  /** Ends a user's stream, or stops it from opening. */
  remove(uid, reason = 'stopped') {
    const user = this.users.get(uid);
    if (!user) return;
    if (user.stream === null) user.opening.abort(reason);
    else user.stream.stop(reason);
  }

  forget(uid, user, reason) {
    if (this.users.get(uid) !== user) return;
    this.users.delete(uid);
    this.emit('remove', { uid, reason });
  }

  /** Stops following: every stream it opened ends with reason 'stopped'. */
  stop() {
    clearTimeout(this.peerWait);
    for (const unsubscribe of this.unsubscribe.splice(0)) unsubscribe();
    for (const uid of this.uids) this.remove(uid);
  }

  dispose() {
    this.stop();
  }
}
