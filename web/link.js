// The WebSocket to the server: binary messages of whole frames both ways. Its
// end is told once, with the reason a person can read.
const REASONS = {
  1001: 'the server stopped',
  1006: 'the connection was lost',
  1008: 'the server refused this client',
  1011: 'an error in the server',
  1013: 'the board is full, try again later',
};

export function openLink({ opened, received, ended }) {
  const scheme = location.protocol === 'https:' ? 'wss:' : 'ws:';
  const socket = new WebSocket(scheme + '//' + location.host + '/ws');
  let over = false;
  socket.binaryType = 'arraybuffer';
  socket.onopen = () => opened();
  socket.onmessage = (e) => { if (!over && !received(new Uint8Array(e.data))) close(); };
  socket.onclose = (e) => {
    if (over) return;
    over = true;
    // Only a kick or a refusal (1008) means that trying again is no use.
    ended((e.reason || REASONS[e.code] || 'the connection ended') + '', e.code !== 1008);
  };
  function close(reason = 'this page ran out of memory', again = true) {
    if (over) return;
    socket.close();
    over = true;
    ended(reason, again);
  }
  return {
    get open() { return !over && socket.readyState === WebSocket.OPEN; },
    send(bytes) { socket.send(bytes); },
    close,
  };
}
