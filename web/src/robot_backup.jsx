// Every configuration-capable device at once, as `tessera-diag config backup DIR` and
// `config restore DIR` do: one backup file per device, named by model and ID.
import { useState } from 'preact/hooks';
import { ask, describeError, deviceParams, download, upload } from './api.js';
import { backupFileName, readBackup, writeBackup } from './backup_file.js';
import { rawMember } from './config_document.js';
import { deviceKey } from './device_list.js';
import { done, failed, TaskStatus, useTask } from './task.jsx';

// The device a file is for, as `tessera-diag config restore` finds it: the listed device with
// its backup record's model and serial number, wherever its ID is now. Only `byId` restores a
// backup whose serial number is not listed, or a plain document, to the model and ID it names
// (its record's, or its file name's: kestrel-kf-2.json), since after IDs were changed that may
// be another device. { device } or { skipped: why }.
function deviceForFile(name, text, devices, byId) {
  let record = null;
  try {
    record = JSON.parse(text)?.Backup ?? null;
  } catch {
    return { skipped: 'not JSON' };
  }
  const model = String(record?.Model ?? '').toLowerCase();
  const bySerial = record && devices.find((device) =>
    device.Model.toLowerCase() === model && device.SerialNo === record.SerialNo);
  if (bySerial) return { device: bySerial };
  if (!byId)
    return { skipped: record ? `no listed ${record.Model} has serial number ${record.SerialNo}`
                             : 'a plain document names no serial number' };
  const key = record ? `${model.replace(/ /g, '-')}-${record.ID}` : name.replace(/\.json$/i, '').toLowerCase();
  const atId = devices.find((device) => deviceKey(device) === key);
  return atId ? { device: atId } : { skipped: 'no listed device of its model and ID' };
}

export function RobotBackup({ devices }) {
  const [status, run] = useTask();
  const [results, setResults] = useState([]);
  const [byId, setById] = useState(false);
  const capable = devices.filter((device) => device.SupportsConfigs);

  const saveAll = () =>
    run('Saving the backups…', async (say) => {
      const lines = [];
      for (const device of capable) {
        say(`Reading ${device.Name}…`);
        const { answer, text, error } = await ask('getconfig', deviceParams(device));
        if (error !== 0) {
          lines.push(`${device.Name}: ${describeError(answer)}`);
          continue;
        }
        download(writeBackup(device, rawMember(text, 'Device')), backupFileName(device), 'application/json');
        lines.push(`${device.Name}: saved as ${backupFileName(device)}`);
      }
      setResults(lines);
      return lines.length === capable.length && lines.every((l) => l.includes('saved as'))
        ? done(`Saved ${lines.length} ${lines.length === 1 ? 'backup' : 'backups'}.`) : failed('Some devices could not be saved; see below.');
    });

  const restoreFiles = (files) =>
    run('Restoring the backups…', async (say) => {
      const lines = [];
      let written = 0;
      for (const file of files) {
        const text = await file.text();
        const { device, skipped } = deviceForFile(file.name, text, devices, byId);
        if (skipped) {
          lines.push(`${file.name}: skipped, ${skipped}`);
          continue;
        }
        const backup = readBackup(text, device);
        if (backup.refused) {
          lines.push(`${file.name}: ${backup.refused}`);
          continue;
        }
        say(`Writing ${file.name} to ${device.Name}…`);
        const { answer, error } = await upload('setconfig', deviceParams(device),
                                               new Blob([backup.documentText], { type: 'application/json' }), file.name);
        if (error === 0) ++written;
        lines.push(`${file.name}: ${error === 0 ? `restored to ${device.Name}` : describeError(answer)}`);
      }
      setResults(lines);
      return written === files.length ? done(`Restored ${written} ${written === 1 ? 'backup' : 'backups'}.`)
                                       : failed(`Restored ${written} of ${files.length} files; see below.`);
    });

  if (!capable.length) return null;
  return (
    <div class="robot-backup">
      <div class="row">
        <button type="button" onClick={saveAll} disabled={status.state === 'busy'}>
          Save backups of all {capable.length} configurable devices
        </button>
        <input id="restore-files" type="file" multiple accept=".json,application/json" class="visually-hidden"
               disabled={status.state === 'busy'}
               onChange={(e) => { const files = [...e.currentTarget.files]; e.currentTarget.value = ''; if (files.length) restoreFiles(files); }} />
        <label class="button" for="restore-files">Restore backups…</label>
        <label class="check">
          <input type="checkbox" checked={byId} onChange={(e) => setById(e.currentTarget.checked)} />
          Restore by model and ID where the serial number is not listed
        </label>
      </div>
      <TaskStatus status={status} />
      {results.length > 0 && <ul class="results">{results.map((line) => <li key={line}>{line}</li>)}</ul>}
    </div>
  );
}
