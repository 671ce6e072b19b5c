// The stream worker: reads the page's stream connections off the main thread (stream-socket.js
// starts it, once per page). One WebSocket per stream; each frame is put together here and
// handed to the page whole, its planes transferred rather than copied.
import { FrameAssembler } from './frames.js';

function serveStreams() {
  const sockets = new Map();
  const post = (message, transfer = []) => self.postMessage(message, transfer);
  self.onmessage = ({ data: { id, op, url, text } }) => {
    if (op === 'open') {
      let ws;
      try {
        ws = new WebSocket(url);
      } catch {
        post({ id, op: 'error' }); // as a WebSocket that cannot connect: an error, then closed
        post({ id, op: 'close', code: 1006, reason: '' });
        return;
      }
      ws.binaryType = 'arraybuffer';
      sockets.set(id, ws);
      const assembler = new FrameAssembler();
      ws.onopen = () => post({ id, op: 'open', url: ws.url });
      ws.onerror = () => post({ id, op: 'error' });
      ws.onclose = ({ code, reason }) => {
        sockets.delete(id);
        post({ id, op: 'close', code, reason });
      };
      ws.onmessage = ({ data }) => {
        if (typeof data === 'string') {
          post({ id, op: 'text', text: data });
          return;
        }
        const frame = assembler.push(data);
        if (frame !== null) post({ id, op: 'frame', frame }, [frame.y.buffer, frame.u.buffer, frame.v.buffer]);
      };
    } else if (op === 'send') {
      sockets.get(id)?.send(text);
    } else if (op === 'close') {
      sockets.get(id)?.close();
    }
  };
}

if (typeof WorkerGlobalScope !== 'undefined') serveStreams();
