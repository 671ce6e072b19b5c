// Types of testing.js: the stand-in engine's simulations ("sim." keys) over a session.
import type { AgentSession, RequestOptions } from './kelvo-agent.js';

export interface SimulatedUser {
  /** The remote user's id: not 0. */
  uid: number;
  /** With video (the default) or without. */
  video?: boolean | undefined;
  /** The stand-in's frames from then on, for every user's video. */
  width?: number | undefined;
  height?: number | undefined;
  fps?: number | undefined;
}

export interface SimulatedVideo {
  width?: number | undefined;
  height?: number | undefined;
  fps?: number | undefined;
  /** Row length in bytes (0: the width). */
  stride?: number | undefined;
  rotation?: 0 | 90 | 180 | 270 | undefined;
  mirrored?: boolean | undefined;
}

export interface SimulatedDevice {
  id: string;
  name: string;
  /** The engine fails to read this entry. */
  fail?: boolean | undefined;
}

/** A remote user joins the channel (the session must be joined). */
export function simulateUser(session: AgentSession, user: SimulatedUser, options?: RequestOptions): Promise<void>;
/** The remote user leaves ("onPeerLeave"). */
export function simulateLeave(session: AgentSession, uid: number, options?: RequestOptions): Promise<unknown>;
/** The remote user pauses or resumes their video ("onUserMuteVideo"). */
export function simulateVideoMuted(session: AgentSession, uid: number, muted: boolean, options?: RequestOptions): Promise<unknown>;
/** The remote user mutes or unmutes their microphone ("onUserMuteAudio"). */
export function simulateAudioMuted(session: AgentSession, uid: number, muted: boolean, options?: RequestOptions): Promise<unknown>;
/** The remote user switches their video off or on ("onUserEnableVideo"). */
export function simulateVideoEnabled(session: AgentSession, uid: number, enabled: boolean, options?: RequestOptions): Promise<unknown>;
/** The stand-in's frames from now on. */
export function simulateVideo(session: AgentSession, video: SimulatedVideo, options?: RequestOptions): Promise<unknown>;
/** The engine sends one event, e.g. simulateEvent(session, 'error', {code: 17}). */
export function simulateEvent(session: AgentSession, callback: string, members?: Record<string, unknown>, options?: RequestOptions): Promise<unknown>;
/** The engine's next call of `operation` fails with `code`. */
export function simulateFailure(session: AgentSession, operation: string, code: number, options?: RequestOptions): Promise<unknown>;
/** Replaces the stand-in's device lists; a kind left out keeps its list. */
export function simulateDevices(session: AgentSession, lists: {
  videoinput?: SimulatedDevice[]; audiooutput?: SimulatedDevice[]; audioinput?: SimulatedDevice[];
}, options?: RequestOptions): Promise<unknown>;
