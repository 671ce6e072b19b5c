// Events of the library's objects (connections, sessions, streams, the remote-video helper).
// Each is an EventTarget: addEventListener(name, listener) gets an AgentEvent whose `detail` is
// the message. on(), once() and off() are the shorthands most pages want: the listener gets the
// message itself. Listeners are isolated from each other: one that throws (or whose promise
// rejects) is reported as an uncaught error and the others of that event still run.

/** An event carrying one message; `name` is the message's own name (for '*' listeners). */
export class AgentEvent extends CustomEvent {
  constructor(type, detail, name = type) {
    super(type, { detail });
    this.name = name;
  }
}

/** Reports a listener's failure the way the browser reports an uncaught exception. */
function report(error) {
  if (typeof reportError === 'function') reportError(error);
  else setTimeout(() => { throw error; });
}

export class AgentEvents extends EventTarget {
  #wrappers = new Map(); // name -> Map(listener -> the function given to addEventListener)

  /** Calls listener(message, name) for every event of that name. Returns an unsubscribe. */
  on(name, listener) {
    this.#add(name, listener, false);
    return () => this.off(name, listener);
  }

  /**
   * once(name, listener): calls the listener for the next event of that name only.
   * once(name, {signal}): a promise of that event's message; an aborted signal rejects it with
   * the signal's reason.
   */
  once(name, listener = {}) {
    if (typeof listener === 'function') {
      this.#add(name, listener, true);
      return () => this.off(name, listener);
    }
    const { signal } = listener;
    return new Promise((resolve, reject) => {
      if (signal?.aborted) {
        reject(signal.reason);
        return;
      }
      const abort = () => {
        this.off(name, resolve);
        reject(signal.reason);
      };
      signal?.addEventListener('abort', abort, { once: true });
      this.#add(name, resolve, true);
      this.#wrappers.get(name).get(resolve).settled = () => signal?.removeEventListener('abort', abort);
    });
  }

  off(name, listener) {
    const wrapper = this.#wrappers.get(name)?.get(listener);
    if (!wrapper) return;
    this.#wrappers.get(name).delete(listener);
    this.removeEventListener(name, wrapper);
    wrapper.settled?.();
  }

  /** Dispatches `name` with `detail` as its message. */
  emit(name, detail, type = name) {
    this.dispatchEvent(new AgentEvent(type, detail, name));
  }

  #add(name, listener, once) {
    if (!this.#wrappers.has(name)) this.#wrappers.set(name, new Map());
    const wrappers = this.#wrappers.get(name);
    if (wrappers.has(listener)) return; // like addEventListener: once per name
    const wrapper = (event) => {
      if (once) this.off(name, listener);
      try {
        const result = listener(event.detail, event.name);
        if (typeof result?.then === 'function') result.then(undefined, report);
      } catch (error) {
        report(error);
      }
    };
    wrappers.set(listener, wrapper);
    this.addEventListener(name, wrapper);
  }
}
