// Every request the page makes goes through here: the same /?action= requests that curl or
// tessera-diag send, on the server the page came from. Nothing else is asked of the server.

// No usable answer: the server is unreachable, too slow, or answered something that is not JSON.
export class NoAnswer extends Error {}

const kDefaultTimeoutMs = 10000;

function url(action, params) {
  return `/?${new URLSearchParams({ action, ...params })}`;
}

// The device's parameters as the server wants them: its model as listed and its number.
export const deviceParams = (device) => ({ model: device.Model, id: String(device.ID) });

async function fetchAnswer(target, init, timeoutMs) {
  const controller = new AbortController();
  const timer = timeoutMs > 0 ? setTimeout(() => controller.abort(), timeoutMs) : 0;
  let text;
  try {
    const response = await fetch(target, { cache: 'no-store', signal: controller.signal, ...init });
    text = await response.text();
  } catch (e) {
    throw new NoAnswer(controller.signal.aborted ? 'The server did not answer in time.'
                                                 : 'The server cannot be reached.');
  } finally {
    clearTimeout(timer);
  }
  try {
    const answer = JSON.parse(text);
    return { answer, text, error: answer.GeneralReturn?.Error ?? 0 };
  } catch {
    throw new NoAnswer('The server answered something that is not JSON.');
  }
}

// A GET of `action` with `params`; { answer, text, error }. Throws NoAnswer.
export function ask(action, params = {}, { timeoutMs = kDefaultTimeoutMs, keepalive } = {}) {
  return fetchAnswer(url(action, params), keepalive ? { keepalive } : {}, timeoutMs);
}

// Uploads `blob` as the one file of a multipart POST, exactly as a browser's form does.
export function upload(action, params, blob, fileName, { timeoutMs = kDefaultTimeoutMs } = {}) {
  const form = new FormData();
  form.append('file', blob, fileName);
  return fetchAnswer(url(action, params), { method: 'POST', body: form }, timeoutMs);
}

// What the common error codes mean for someone at the robot.
const kHints = {
  '-100': 'The device is busy with another firmware upgrade.',
  '-102': 'The device did not answer. Is it still powered and on the bus?',
  '-120': 'No such device in the last listing: it may have moved or left the bus.',
  '-125': 'This device does not support that.',
  '-128': 'The device has not sent its configuration yet.',
  '-132': 'The device holds something other than what was written.',
  '-133': 'The device did not acknowledge the write.',
  '-202': 'This firmware file is for another product. Nothing was sent to the device.',
  '-206': 'No firmware file reached the server: is the name that of a file in its search directory?',
  '-605': 'The device took the configuration but did not send it back whole: what it holds is unverified.',
  '-700': 'The document is not valid configuration JSON. Nothing was written.',
};

// "QUOR_DI_NodeIsInvalid (-120)" and a hint where one helps (`hint`, where the caller knows better).
export function describeError(answer, hint = kHints[String(answer.GeneralReturn?.Error)]) {
  const general = answer.GeneralReturn ?? {};
  const code = general.Error;
  const text = `${general.ErrorMessage || 'Error'} (${code})`;
  return hint ? `${text}. ${hint}` : text;
}

// Saves `text` as a file the browser downloads.
export function download(text, fileName, type) {
  const link = document.createElement('a');
  link.href = URL.createObjectURL(new Blob([text], { type }));
  link.download = fileName;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 10000);
}
