// Blink, set ID, set name, factory defaults and, for the IMU, calibration.
import { useState } from 'preact/hooks';
import { ask, describeError, deviceParams } from './api.js';
import { deviceKey, isImu, sharesIds, waitForListing } from './device_list.js';
import { done, failed, TaskStatus, useTask } from './task.jsx';

const kMaxDeviceId = 62;
const kMaxNameBytes = 63;  // the listing keeps 63 bytes of a name
// The server decodes the whole query before it splits it, so these would cut the name.
const kUnsendableInName = /[&=]/;
// The IMU's calibration modes as its self-test names them.
const kCalibrations = [
  [0, 'Boot tare: gyro and accelerometer'],
  [1, 'Temperature'],
  [2, 'Magnetometer, 12 positions'],
  [3, 'Magnetometer, 360° spin'],
  [5, 'Accelerometer'],
];

function Blink({ device }) {
  const [status, run] = useTask();
  const blink = () =>
    run('Asking the device to blink…', async () => {
      const { answer, error } = await ask('blink', deviceParams(device));
      return error === 0 ? done('The LED is blinking, and the device\'s sticky faults were cleared.')
                         : failed(describeError(answer));
    });
  return (
    <div class="command">
      <h3>Find it on the robot</h3>
      <button type="button" onClick={blink} disabled={status.state === 'busy'}>Blink LED</button>
      <TaskStatus status={status} />
    </div>
  );
}

function SetId({ device, devices, onSelect }) {
  const [newId, setNewId] = useState(String(device.ID));
  const [confirming, setConfirming] = useState(null);
  const [status, run] = useTask();
  const number = Number(newId);
  const valid = /^\d+$/.test(newId) && number <= kMaxDeviceId;
  // Any device of the same type clashes, not only one of the same model (a Kestrel KX and a
  // Kestrel KF share their IDs).
  const holder = devices.find((other) => deviceKey(other) !== deviceKey(device) &&
    other.ID === number && sharesIds(other, device));
  const change = () => {
    setConfirming(null);
    run(`Moving the device to ID ${number}…`, async (progress) => {
      const { answer, error } = await ask('setid', { ...deviceParams(device), newid: String(number) });
      if (error !== 0) return failed(describeError(answer));
      progress(`The device took ID ${number}; waiting for the listing to show it there…`);
      const moved = { ...device, ID: number };
      const listed = await waitForListing(
        (list) => list.some((d) => deviceKey(d) === deviceKey(moved)), 15000);
      if (!listed) return failed(`The device answered, but the listing does not show it at ID ${number} yet.`);
      onSelect(deviceKey(moved));
      return done(`Moved to ID ${number}.`);
    });
  };
  const submit = (event) => {
    event.preventDefault();
    if (!valid || number === device.ID) return;
    if (holder) setConfirming(holder);
    else change();
  };
  return (
    <form class="command" onSubmit={submit}>
      <h3>Device ID</h3>
      <label for="new-id">New ID (0–{kMaxDeviceId})</label>
      <div class="row">
        <input id="new-id" type="number" min="0" max={kMaxDeviceId} step="1" value={newId}
               aria-invalid={valid ? undefined : 'true'} aria-describedby="new-id-help"
               onInput={(e) => { setNewId(e.currentTarget.value); setConfirming(null); }} />
        <button type="submit" disabled={!valid || number === device.ID || status.state === 'busy'}>
          Set ID
        </button>
      </div>
      <p id="new-id-help" class="help">
        {valid ? (holder ? `${holder.Name} already has ID ${number}.` : '\u00a0')
               : `Enter a whole number from 0 to ${kMaxDeviceId}.`}
      </p>
      {confirming && (
        <div class="confirm" role="alertdialog" aria-labelledby="id-clash">
          <p id="id-clash">
            {confirming.Name} already has ID {number}. It and the {device.Model} would answer
            as one device until one of them is moved again. Take ID {number} anyway?
          </p>
          <button type="button" class="danger" onClick={change}>Take ID {number} anyway</button>{' '}
          <button type="button" onClick={() => setConfirming(null)}>Cancel</button>
        </div>
      )}
      <TaskStatus status={status} />
    </form>
  );
}

function SetName({ device }) {
  const [name, setName] = useState('');
  const [status, run] = useTask();
  const bytes = new TextEncoder().encode(name).length;
  const unsendable = kUnsendableInName.test(name);
  const tooLong = bytes > kMaxNameBytes;
  const submit = (event) => {
    event.preventDefault();
    if (unsendable || tooLong) return;
    run('Storing the name…', async () => {
      const { answer, error } = await ask('setname', { ...deviceParams(device), newname: name });
      if (error !== 0) return failed(describeError(answer));
      return done(name ? `The device is now named "${answer.NewName ?? name}".`
                       : 'The custom name was removed.');
    });
  };
  return (
    <form class="command" onSubmit={submit}>
      <h3>Name</h3>
      <label for="new-name">Custom name (empty removes it)</label>
      <div class="row">
        <input id="new-name" type="text" value={name} autocomplete="off"
               aria-describedby="new-name-help" aria-invalid={unsendable || tooLong ? 'true' : undefined}
               onInput={(e) => setName(e.currentTarget.value)} />
        <button type="submit" disabled={unsendable || tooLong || status.state === 'busy'}>Set name</button>
      </div>
      <p id="new-name-help" class={`help ${unsendable || tooLong ? 'error' : ''}`} aria-live="polite">
        {bytes} of {kMaxNameBytes} bytes
        {tooLong && ': too long'}
        {unsendable && ': "&" and "=" cannot be sent in a name'}
      </p>
      <TaskStatus status={status} />
    </form>
  );
}

function FactoryDefaults({ device }) {
  const [asking, setAsking] = useState(false);
  const [status, run] = useTask();
  const restore = () => {
    setAsking(false);
    run('Restoring factory defaults…', async () => {
      const { answer, error } = await ask('factorydef', deviceParams(device));
      return error === 0 ? done('Factory defaults restored.') : failed(describeError(answer));
    });
  };
  return (
    <div class="command">
      <h3>Factory defaults</h3>
      {!asking ? (
        <button type="button" onClick={() => setAsking(true)} disabled={status.state === 'busy'}>
          Restore factory defaults…
        </button>
      ) : (
        <div class="confirm" role="alertdialog" aria-labelledby="defaults-question">
          <p id="defaults-question">
            Replace every configuration value of {device.Name} with its factory default? Save
            a backup first (Configuration) if you may want them back.
          </p>
          <button type="button" class="danger" onClick={restore}>Restore factory defaults</button>{' '}
          <button type="button" onClick={() => setAsking(false)}>Cancel</button>
        </div>
      )}
      <TaskStatus status={status} />
    </div>
  );
}

// What the IMU reports about its calibration, from its self-test text.
const calibrationLines = (text) =>
  text.split('\n').filter((line) => /CAL mode|CAL err|Wren State|Description/.test(line));

function Calibration({ device }) {
  const [type, setType] = useState(kCalibrations[0][0]);
  const [status, run] = useTask();
  const start = (event) => {
    event.preventDefault();
    run('Starting the calibration…', async (progress) => {
      const { answer, error } = await ask('entercal', { ...deviceParams(device), caltype: String(type) });
      if (error !== 0) return failed(describeError(answer));
      progress('Calibration started; reading what the IMU reports…');
      const report = await ask('selftest', deviceParams(device));
      const lines = calibrationLines(report.answer.SelfTest ?? '');
      return done(`Calibration started. The IMU reports: ${lines.join(' · ') || 'nothing yet'}`);
    });
  };
  return (
    <form class="command" onSubmit={start}>
      <h3>Calibration</h3>
      <label for="cal-type">Calibration</label>
      <div class="row">
        <select id="cal-type" value={type} onChange={(e) => setType(Number(e.currentTarget.value))}>
          {kCalibrations.map(([value, label]) => <option value={value} key={value}>{label}</option>)}
        </select>
        <button type="submit" disabled={status.state === 'busy'}>Start calibration</button>
      </div>
      <p class="help">Follow the IMU's manual for how to hold or move it; its self-test shows the progress.</p>
      <TaskStatus status={status} />
    </form>
  );
}

export function Commands({ device, devices, onSelect }) {
  return (
    <div class="commands">
      <Blink device={device} />
      <SetId device={device} devices={devices} onSelect={onSelect} />
      <SetName device={device} />
      <FactoryDefaults device={device} />
      {isImu(device) && <Calibration device={device} />}
    </div>
  );
}
