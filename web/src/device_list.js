// The listing, asked for once a second while the page is visible. The server hands out IDs for
// about two seconds after it starts, so a list that is empty or still changing is "discovering".
import { useEffect, useState } from 'preact/hooks';
import { ask, NoAnswer } from './api.js';

export const kListingPeriodMs = 1000;
const kSettledAfterMs = 2000;

// "kestrel-kx-1": the model in lower case with '-' for spaces, as tessera-diag writes it.
export const deviceKey = (device) => `${device.Model.toLowerCase().replace(/ /g, '-')}-${device.ID}`;
export const isMotorController = (device) =>
  ['kestrel kx', 'kestrel kf', 'harrier hx'].includes(device.Model.toLowerCase());
export const isImu = (device) => device.Model.toLowerCase().includes('wren');
export const inBootloader = (device) =>
  device.SoftStatus.startsWith('Bootloader') || device.CurrentVers.startsWith('255.255');
// The device type each model's arbitration IDs carry, tessera-diag's own table put in by the
// build: the listing names models only, and devices of one type at one number answer as one.
const kDeviceTypes = DEVICE_TYPES;
// Whether `a` and `b` would answer as one device at one number; a model of unknown type clashes
// with its own model only.
export function sharesIds(a, b) {
  const [modelA, modelB] = [a.Model.toLowerCase(), b.Model.toLowerCase()];
  const [typeA, typeB] = [kDeviceTypes[modelA], kDeviceTypes[modelB]];
  return typeA !== undefined && typeB !== undefined ? typeA === typeB : modelA === modelB;
}
// Two devices answering to one ID: the server says so in the status, and both are listed.
export const hasDuplicateId = (device, devices) =>
  /^There are \d+ devices with this Device ID/.test(device.SoftStatus) ||
  devices.filter((other) => deviceKey(other) === deviceKey(device)).length > 1;

// Listed in a steady order (by ID, then model), whatever order discovery found them in.
const byIdThenModel = (a, b) => a.ID - b.ID || a.Model.localeCompare(b.Model);

export function useDeviceList() {
  const [listing, setListing] = useState({ devices: null, problem: null, changedAt: 0, firstAnswerAt: null });
  useEffect(() => {
    let timer = 0;
    let stopped = false;
    let lastText = null;
    let asking = false;
    const poll = async () => {
      timer = 0;
      asking = true;
      try {
        const { answer } = await ask('getdevices');
        const devices = (answer.DeviceArray ?? []).slice().sort(byIdThenModel);
        const text = JSON.stringify(devices);
        const now = Date.now();
        // The first answer alone cannot tell a settled list from one still growing.
        const changed = lastText !== null && text !== lastText;
        setListing((old) => ({
          devices,
          problem: null,
          changedAt: changed ? now : old.changedAt,
          firstAnswerAt: old.firstAnswerAt ?? now,
        }));
        lastText = text;
      } catch (e) {
        if (!(e instanceof NoAnswer)) throw e;
        setListing((old) => ({ ...old, problem: e.message }));
      }
      asking = false;
      if (!stopped && !document.hidden) timer = setTimeout(poll, kListingPeriodMs);
    };
    // A hidden tab asks nothing; it catches up as soon as it is shown again.
    const onVisibility = () => {
      if (!document.hidden && !timer && !asking) poll();
    };
    document.addEventListener('visibilitychange', onVisibility);
    poll();
    return () => {
      stopped = true;
      clearTimeout(timer);
      document.removeEventListener('visibilitychange', onVisibility);
    };
  }, []);
  const settling = listing.devices !== null &&
    (listing.devices.length === 0 || Date.now() - listing.changedAt < kSettledAfterMs);
  return { ...listing, settling };
}

// Asks for the listing every 250 ms until `holds` accepts it or `deadlineMs` passes; the device
// list that held, or null.
export async function waitForListing(holds, deadlineMs) {
  const end = Date.now() + deadlineMs;
  while (Date.now() < end) {
    try {
      const { answer } = await ask('getdevices');
      if (holds(answer.DeviceArray ?? [])) return answer.DeviceArray;
    } catch (e) {
      if (!(e instanceof NoAnswer)) throw e;
    }
    await new Promise((resolve) => setTimeout(resolve, 250));
  }
  return null;
}
