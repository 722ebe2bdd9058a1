// Firmware upgrade: pick or drop a BFL file, see what it carries, upload it as a multipart POST
// (or name a file already in the server's search directory) and follow "progress" on a second
// connection until the upgrade ends and the listing shows the new version.
import { useEffect, useRef, useState } from 'preact/hooks';
import { ask, describeError, deviceParams, NoAnswer, upload } from './api.js';
import { deviceKey, inBootloader, waitForListing } from './device_list.js';
import { readBflHeader } from './bfl_header.js';
import { ServerFileField } from './server_file_field.jsx';
import { done, failed, TaskStatus, useTask } from './task.jsx';

const kProgressPeriodMs = 250;
const kUpgradeTimeoutMs = 20 * 60 * 1000;  // the server answers the upload when the upgrade ends

const clock = (ms) => {
  const seconds = Math.max(0, Math.round(ms / 1000));
  return `${Math.floor(seconds / 60)}:${String(seconds % 60).padStart(2, '0')}`;
};

// The device's entry in the server's listing now, or undefined.
async function listedNow(device) {
  const list = await waitForListing(() => true, 3000);
  return list?.find((d) => deviceKey(d) === deviceKey(device));
}

// Where a failed upgrade left the device, from the listing.
async function whereLeft(device) {
  const now = await listedNow(device);
  if (!now) return 'The device is not in the listing now; it may be restarting. Watch the device list.';
  if (inBootloader(now))
    return `The device is in its bootloader (firmware ${now.CurrentVers}): it will not run until a ` +
           'valid firmware file is uploaded. Upload one again.';
  return `The device still runs firmware ${now.CurrentVers}.`;
}

export function Firmware({ device }) {
  const [file, setFile] = useState(null);  // { name, bytes, header }
  const [progress, setProgress] = useState(null);  // { percent, startedAt, now }
  const [status, run, setStatus] = useTask();
  const [dragging, setDragging] = useState(false);
  // The "progress" polling under way: stopped, a poll whose answer is still on its way sets no
  // further timer, so no polling outlives its upgrade or the panel.
  const follower = useRef(null);  // { timer, stopped }
  const stopFollowing = () => {
    if (!follower.current) return;
    follower.current.stopped = true;
    clearTimeout(follower.current.timer);
  };
  useEffect(() => stopFollowing, []);

  // The server runs one upgrade at a time: one already running (started by tessera-diag,
  // another browser, or this page before its tab was left) is followed to its end first.
  useEffect(() => {
    let left = false;
    ask('progress', deviceParams(device)).then(({ error }) => {
      if (left || error !== 0) return;
      run('An upgrade is running on the server; following it…', async () => {
        await new Promise((ended) => followProgress(Date.now(), ended));
        setProgress(null);
        return done(`The upgrade that was running has ended. ${await whereLeft(device)}`);
      });
    }, () => {});
    return () => { left = true; };
  }, []);

  const pick = async (picked) => {
    if (!picked) return;
    const bytes = new Uint8Array(await picked.arrayBuffer());
    setFile({ name: picked.name, bytes, header: readBflHeader(bytes) });
  };

  // Shows "progress" every period until stopped (this page's own upgrade stops it when its
  // request ends, since the server may not have started it yet) or, given `onEnded`, until the
  // server says no upgrade runs.
  const followProgress = (startedAt, onEnded) => {
    stopFollowing();
    const me = { timer: 0, stopped: false };
    follower.current = me;
    const poll = async () => {
      try {
        const { answer, error } = await ask('progress', deviceParams(device));
        if (me.stopped) return;
        if (error === 0) setProgress({ percent: answer.Progress, startedAt, now: Date.now() });
        else if (onEnded) return onEnded();
      } catch (e) {
        if (!(e instanceof NoAnswer)) throw e;
      }
      if (!me.stopped) me.timer = setTimeout(poll, kProgressPeriodMs);
    };
    poll();
  };

  // One upgrade: `send` makes the "fieldupgrade" request, `expected` is the version the file
  // carries (unknown for a file on the server, which the page cannot read).
  const upgrade = (busyText, send, expected) =>
    run(busyText, async (say) => {
      // The version before, from the server: the panel's copy of the listing may be a second old.
      const before = expected ? null : (await listedNow(device))?.CurrentVers;
      const startedAt = Date.now();
      setProgress({ percent: 0, startedAt, now: startedAt });
      followProgress(startedAt);
      let outcome;
      try {
        outcome = await send();
      } finally {
        stopFollowing();
      }
      const { answer, error } = outcome;
      if (error !== 0) {
        setProgress(null);
        const message = answer.UpdateMessage ? ` ${answer.UpdateMessage}.` : '';
        return failed(`The upgrade failed: ${describeError(answer)}${message} ${await whereLeft(device)}`);
      }
      setProgress((old) => old && { ...old, percent: 100, now: Date.now() });
      say(`Upgrade done in ${clock(Date.now() - startedAt)}; waiting for the listing to show ` +
          `${expected ? `firmware ${expected}` : 'the device running again'}…`);
      // Without the file's version, a new version or the device back after leaving the listing
      // (a restart) shows the new firmware running.
      let seenAbsent = false;
      const runsNew = (entry) => (expected ? entry.CurrentVers.startsWith(expected)
                                           : !inBootloader(entry) && (seenAbsent || entry.CurrentVers !== before));
      const held = await waitForListing((l) => {
        const entry = l.find((d) => deviceKey(d) === deviceKey(device));
        if (!entry) seenAbsent = true;
        return entry && runsNew(entry);
      }, 20000);
      const now = held ? held.find((d) => deviceKey(d) === deviceKey(device)) : await listedNow(device);
      if (now && (held || (!expected && !inBootloader(now))))
        return done(`Upgrade done: the device now runs firmware ${now.CurrentVers}.`);
      return failed(`The upgrade ended without an error, but the listing does not show ` +
                    `${expected ? `firmware ${expected}` : 'the device running'} yet.`);
    });

  const start = () =>
    upgrade(`Uploading ${file.name}…`,
            () => upload('fieldupgrade', deviceParams(device), new Blob([file.bytes]), file.name,
                         { timeoutMs: kUpgradeTimeoutMs }),
            file.header.version);

  const startServerFile = (name) =>
    upgrade(`Upgrading from ${name} on the server…`,
            () => ask('fieldupgrade', { ...deviceParams(device), file: name }, { timeoutMs: kUpgradeTimeoutMs }));

  const busy = status.state === 'busy';
  const percent = progress?.percent ?? 0;
  const elapsed = progress ? progress.now - progress.startedAt : 0;
  // Sectors start at 10 %; before that the device is being prepared and no rate is known.
  const remaining = percent > 10 && percent < 100 ? (elapsed * (100 - percent)) / percent : null;
  return (
    <div class="firmware">
      <div class={`dropzone ${dragging ? 'dragging' : ''}`}
           onDragOver={(e) => { e.preventDefault(); setDragging(true); }}
           onDragLeave={() => setDragging(false)}
           onDrop={(e) => { e.preventDefault(); setDragging(false); if (!busy) pick(e.dataTransfer.files[0]); }}>
        <label for="bfl-file">Firmware file (.bfl)</label>
        <input id="bfl-file" type="file" accept=".bfl" disabled={busy}
               onChange={(e) => pick(e.currentTarget.files[0])} />
        <p class="help">or drop the file here.</p>
      </div>
      {file && (
        <p class={`status ${file.header.problem ? 'failed' : ''}`} role="status">
          {file.header.problem
            ? `${file.name}: ${file.header.problem}`
            : `${file.name}: firmware ${file.header.version}, ${file.header.sectors} sectors, ` +
              `for model code ${file.header.modelCode}. The device runs ${device.CurrentVers}.`}
        </p>
      )}
      <p class="help">
        The device restarts into its bootloader for the upgrade: keep it powered and connected
        until it is done. A file for another product is refused before anything is sent.
      </p>
      <button type="button" disabled={!file || file.header.problem || busy} onClick={start}>
        Upgrade firmware
      </button>
      <ServerFileField id="server-file" busy={busy}
                       label="Or a file already on the robot (its name in the server's search directory)"
                       action="Upgrade from the robot's file"
                       onRefused={(text) => setStatus(failed(text))} onGo={startServerFile} />
      {progress && (
        <div class="progress">
          <span id="upgrade-progress-label">Upgrade progress</span>
          <progress max="100" value={percent} aria-labelledby="upgrade-progress-label">{percent} %</progress>
          <span class="mono">
            {percent} % · {clock(elapsed)} elapsed
            {remaining !== null && ` · about ${clock(remaining)} left`}
          </span>
        </div>
      )}
      <TaskStatus status={status} />
    </div>
  );
}
