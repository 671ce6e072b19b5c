// A fake agent for the client's tests in node: a real WebSocket server on a free loopback port
// (the least of the protocol: text frames, close frames, pings) that answers the library's
// commands as the agent does, and that the test can crash (connections cut, no close frame),
// close with a code and reason, stop and start again on the same port.
import { createServer } from 'node:http';
import { createHash } from 'node:crypto';

const ACCEPT_GUID = '258EAFA5-E914-47DA-95CA-C5AB0DC85B11';

/** One frame: FIN set, unmasked (servers never mask). */
function frame(opcode, payload) {
  const length = payload.length;
  const head = length < 126 ? Buffer.from([0x80 | opcode, length])
    : length < 65536 ? Buffer.from([0x80 | opcode, 126, length >> 8, length & 0xff])
      : (() => { const b = Buffer.alloc(10); b[0] = 0x80 | opcode; b[1] = 127; b.writeBigUInt64BE(BigInt(length), 2); return b; })();
  return Buffer.concat([head, payload]);
}

/** Reads the client's (masked) frames from `buffer`; returns [frames, rest]. */
function parseFrames(buffer) {
  const frames = [];
  let offset = 0;
  for (;;) {
    if (buffer.length - offset < 2) break;
    const opcode = buffer[offset] & 0x0f;
    let length = buffer[offset + 1] & 0x7f;
    let at = offset + 2;
    if (length === 126) {
      if (buffer.length < at + 2) break;
      length = buffer.readUInt16BE(at);
      at += 2;
    } else if (length === 127) {
      if (buffer.length < at + 8) break;
      length = Number(buffer.readBigUInt64BE(at));
      at += 8;
    }
    if (buffer.length < at + 4 + length) break;
    const mask = buffer.subarray(at, at + 4);
    const payload = Buffer.from(buffer.subarray(at + 4, at + 4 + length)).map((byte, i) => byte ^ mask[i % 4]);
    frames.push({ opcode, payload });
    offset = at + 4 + length;
  }
  return [frames, buffer.subarray(offset)];
}

/** The agent's answers by default: everything succeeds, a join grants the uid asked for (or 1000). */
export function agentAnswer({ command, ...members }) {
  if (command === 'getAgentInfo') return { command, agentVersion: 'fake', protocolVersion: 1, commands: [], code: true };
  if (command === 'joinChannel') return { command, uid: members.uid || 1000, code: true };
  if (command === 'videoStat') return null;
  return { command, code: true };
}

/**
 * Starts the fake agent. answer(message, client) returns the reply object (null: none); the
 * default is agentAnswer. `received` lists every command as {client, message}.
 */
export async function startFakeAgent({ answer = agentAnswer } = {}) {
  const clients = new Set();
  const received = [];
  let port = 0;
  let server = null;

  const accept = (request, socket) => {
    const key = request.headers['sec-websocket-key'];
    const accepted = createHash('sha1').update(key + ACCEPT_GUID).digest('base64');
    socket.write('HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n' +
      `Sec-WebSocket-Accept: ${accepted}\r\n\r\n`);
    const client = {
      socket,
      send: (message) => socket.write(frame(1, Buffer.from(JSON.stringify(message)))),
      close(code, reason = '') {
        const payload = Buffer.alloc(2 + Buffer.byteLength(reason));
        payload.writeUInt16BE(code);
        payload.write(reason, 2);
        socket.write(frame(8, payload));
        socket.end();
      },
      crash: () => socket.destroy(),
    };
    clients.add(client);
    socket.on('close', () => clients.delete(client));
    socket.on('error', () => {});
    let pending = Buffer.alloc(0);
    socket.on('data', (data) => {
      const [frames, rest] = parseFrames(Buffer.concat([pending, data]));
      pending = rest;
      for (const { opcode, payload } of frames) {
        if (opcode === 8) {
          socket.end(frame(8, payload.subarray(0, 2)));
        } else if (opcode === 9) {
          socket.write(frame(10, payload));
        } else if (opcode === 1) {
          const message = JSON.parse(payload.toString());
          received.push({ client, message });
          const reply = answer(message, client);
          if (reply) client.send(reply);
        }
      }
    });
  };

  const agent = {
    clients,
    received,
    get url() { return `ws://127.0.0.1:${port}`; },
    /** Listens (again, on the same port once it had one). */
    async start() {
      server = createServer((request, response) => response.writeHead(426).end());
      server.on('upgrade', accept);
      await new Promise((done, fail) => {
        server.once('error', fail);
        server.listen(port, '127.0.0.1', done);
      });
      port = server.address().port;
    },
    /** Stops listening; `how` ends the open connections: 'crash' cuts them, else {code, reason}. */
    async stop(how = 'crash') {
      for (const client of [...clients]) {
        if (how === 'crash') client.crash();
        else client.close(how.code, how.reason);
      }
      await new Promise((done) => server.close(done));
    },
    /** The commands received so far, by name. */
    commands: () => received.map(({ message }) => message.command),
  };
  await agent.start();
  return agent;
}
