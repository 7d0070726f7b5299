// The WebAssembly module (src/web/page_client.h): loading it, its sizes,
// names and limits (page_describe), and moving strings and pixels across.

// A function that only a browser with WebAssembly's 128-bit SIMD validates
// (i8x16.splat and i8x16.popcnt, of the final SIMD instructions).
const SIMD_PROBE = new Uint8Array([0, 97, 115, 109, 1, 0, 0, 0, 1, 5, 1, 96, 0, 1, 123, 3, 2, 1, 0, 10, 10, 1, 8, 0,
  65, 0, 253, 15, 253, 98, 11]);

// The module's factory: the SIMD build's (easel_page.js, which the page
// loads) where the browser has SIMD, else the plain build's, loaded now.
async function moduleFactory() {
  if (WebAssembly.validate(SIMD_PROBE)) return globalThis.EaselModule;
  if (!globalThis.EaselModulePlain) {
    await new Promise((loaded, failed) => {
      const script = document.createElement('script');
      script.src = 'easel_page_plain.js';
      script.onload = loaded;
      script.onerror = () => failed(new Error('cannot load easel_page_plain.js'));
      document.head.appendChild(script);
    });
  }
  return globalThis.EaselModulePlain;
}

export async function loadModule() {
  const m = await (await moduleFactory())();
  if (!m._page_open()) throw new Error('no memory for the board');
  const K = JSON.parse(m.UTF8ToString(m._page_describe()));
  await new Promise((done) => setTimeout(done, 0));  // each start a task of its own
  m._page_warm_up();
  return { m, K };
}

// The bytes of the C string at ptr (a view into the module's memory).
export function cBytes(m, ptr) {
  const heap = m.HEAPU8;
  let end = ptr;
  while (heap[end]) ++end;
  return heap.subarray(ptr, end);
}

// Latin-1 text of the bytes: names and chat lines are printable ASCII.
export function ascii(bytes) {
  let s = '';
  for (const b of bytes) s += String.fromCharCode(b);
  return s;
}

export function withString(m, s, use) {
  const size = m.lengthBytesUTF8(s) + 1, ptr = m._malloc(size);
  m.stringToUTF8(s, ptr, size);
  try { return use(ptr); } finally { m._free(ptr); }
}

// RGBA bytes at ptr as an image of w x h, over the module's memory (valid
// until the module next allocates: put it on a canvas at once).
export function imageAt(m, ptr, w, h) {
  return new ImageData(new Uint8ClampedArray(m.HEAPU8.buffer, ptr, w * h * 4), w, h);
}
