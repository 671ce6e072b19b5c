// Window titles of a "getWindows" listing travel as Base64 of their UTF-8 bytes.

/** Decodes a window title from a "getWindows" listing. */
export function decodeTitle(base64) {
  const bytes = Uint8Array.from(atob(base64), (c) => c.charCodeAt(0));
  return new TextDecoder().decode(bytes);
}
