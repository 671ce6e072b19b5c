// Types of yuv-canvas.js: drawing the agent's I420 frames on a canvas.
import type { I420Frame } from './kelvo-agent.js';

/** The ways of drawing, in the order createRenderer() tries them. */
export type RendererKind = 'webcodecs' | 'webgl' | '2d';

export const RENDERER_KINDS: readonly RendererKind[];

/** What a renderer needs of a frame. */
export type DrawableFrame = Pick<I420Frame, 'width' | 'height' | 'stride' | 'chromaStride' | 'y' | 'u' | 'v'>;

export interface Renderer {
  readonly kind: RendererKind;
  /** The canvas drawn into: a fresh copy of the one given when a fallback needed one. */
  readonly canvas: HTMLCanvasElement;
  /** Draws the frame; the canvas takes the frame's size (scale it with CSS). */
  draw(frame: DrawableFrame): void;
}

/** A renderer for the canvas: the first kind that works here, starting with `preferred`. */
export function createRenderer(canvas: HTMLCanvasElement, options?: { preferred?: RendererKind }): Renderer;
