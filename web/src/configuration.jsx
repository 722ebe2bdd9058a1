// The device's configuration as a form: read with "getconfig", written with "setconfig" (which
// reads the device back) from the form or from a file in the server's search directory, saved
// to and loaded from backup files.
import { useEffect, useRef, useState } from 'preact/hooks';
import { ask, describeError, deviceParams, download, NoAnswer, upload } from './api.js';
import { backupFileName, readBackup, writeBackup } from './backup_file.js';
import { compareValue, parseDocument, rawMember, unitOf, writeDocument } from './config_document.js';
import { ServerFileField } from './server_file_field.jsx';
import { done, failed, TaskStatus, useTask } from './task.jsx';

const kKindNames = { integer: 'whole number', decimal: 'number', switch: 'on/off', text: 'text' };

function ValueField({ id, name, kind, value, base, mark, onChange }) {
  const changed = compareValue(base, value) !== 'same';
  const unit = unitOf(name);
  const hint = [kKindNames[kind], unit].filter(Boolean).join(', ');
  const classes = ['field', changed && 'changed', mark && `came-back-${mark.kind}`].filter(Boolean).join(' ');
  let input;
  if (kind === 'switch') {
    input = <input id={id} type="checkbox" checked={value} aria-describedby={`${id}-hint`}
                   onChange={(e) => onChange(e.currentTarget.checked)} />;
  } else if (kind === 'text') {
    input = <input id={id} type="text" value={value} aria-describedby={`${id}-hint`}
                   onInput={(e) => onChange(e.currentTarget.value)} />;
  } else {
    input = <input id={id} type="number" step={kind === 'integer' ? '1' : 'any'} value={String(value)}
                   aria-describedby={`${id}-hint`} required
                   onInput={(e) => {
                     const number = e.currentTarget.valueAsNumber;
                     if (!Number.isNaN(number)) onChange(number);
                   }} />;
  }
  return (
    <div class={classes}>
      <label for={id}>{name}</label>
      {input}
      <span id={`${id}-hint`} class="hint">
        {hint}
        {changed && ' · changed'}
        {mark && mark.kind === 'rounded' && ` · the device holds ${mark.back}`}
        {mark && mark.kind === 'different' && ` · came back as ${JSON.stringify(mark.back)}`}
        {mark && mark.kind === 'written' && ` · written from the file (was ${JSON.stringify(mark.was)})`}
      </span>
    </div>
  );
}

// Per entry and value, how the read-back differs from what was sent.
function markDifferences(sentEntries, backEntries) {
  const marks = {};
  sentEntries.forEach((entry, index) => {
    const back = backEntries[index]?.Values ?? {};
    for (const [name, value] of Object.entries(entry.Values)) {
      const kind = compareValue(value, back[name]);
      if (kind !== 'same') marks[`${index}/${name}`] = { kind, back: back[name] };
    }
  });
  return marks;
}

// What a failed write of a file named on the server means where it differs from an upload's.
const namedFileHints = (name) => ({
  // A file the server cannot open answers as if the device had sent no configuration.
  [-128]: `The server found no regular file "${name}" in its search directory (it follows no links), ` +
          'or the device has not sent its configuration yet. Nothing was written.',
  // The server takes a plain document by name: a backup's record around it is not one.
  [-700]: `"${name}" is not a configuration document the server takes (not JSON, a key missing or of the ` +
          'wrong type, or too large; a backup file is written with "Load backup…"). Nothing was written.',
});

// Per entry and value, what a write changed: the read-back against what the form showed before.
const markWritten = (before, back) => Object.fromEntries(
  Object.entries(markDifferences(back, before)).map(([key, mark]) => [key, { kind: 'written', was: mark.back }]));

export function Configuration({ device }) {
  const [state, setState] = useState({ loading: true, problem: '', deviceText: '', base: [], edited: [] });
  const [marks, setMarks] = useState({});
  const [restore, setRestore] = useState(null);  // a loaded backup: { documentText, backup, warnings }
  const [status, run, setStatus] = useTask();
  const fileInput = useRef(null);

  const load = async () => {
    setState((old) => ({ ...old, loading: true }));
    try {
      const { answer, text, error } = await ask('getconfig', deviceParams(device));
      if (error !== 0) {
        setState({ loading: false, problem: describeError(answer), deviceText: '', base: [], edited: [] });
        return;
      }
      const deviceText = rawMember(text, 'Device');
      const { entries } = parseDocument(deviceText);
      setState({ loading: false, problem: '', deviceText, base: entries, edited: structuredClone(entries) });
    } catch (e) {
      if (!(e instanceof NoAnswer)) throw e;
      setState((old) => ({ ...old, loading: false, problem: e.message }));
    }
  };
  useEffect(() => { load(); }, []);

  const { base, edited } = state;
  const changes = edited.reduce((count, entry, i) => count + Object.entries(entry.Values)
    .filter(([name, value]) => compareValue(base[i]?.Values[name], value) !== 'same').length, 0);
  const setValue = (index, name, value) => {
    setRestore(null);
    setState((old) => {
      const next = structuredClone(old.edited);
      next[index].Values[name] = value;
      return { ...old, edited: next };
    });
  };

  // Shows a "setconfig" answer in the form. `sentEntries` are what was sent, or null for a file
  // on the server: the page cannot read that file, so the values the write changed are marked.
  const showWrite = ({ answer, text: answerText, error }, sentEntries, fileName) => {
    const backText = rawMember(answerText, 'Device');
    if (error !== 0 && error !== -132)
      return failed(describeError(answer, fileName ? namedFileHints(fileName)[error] : undefined));
    // -132 without a read-back: the server refused the document before sending anything, so
    // the form keeps the user's values to correct.
    if (backText === null)
      return failed('Nothing was written: a value is one its field cannot hold (a negative gain, ' +
                    'current or time, an output beyond full scale, a whole number beyond 32 bits, …).');
    const back = parseDocument(backText).entries;
    const found = sentEntries ? markDifferences(sentEntries, back) : markWritten(base, back);
    setMarks(found);
    setRestore(null);
    setState((old) => ({ ...old, deviceText: backText, base: back, edited: structuredClone(back) }));
    if (!sentEntries) {
      const count = Object.keys(found).length;
      const written = count ? `${count} values changed; they are marked.` : 'No value changed.';
      if (error === -132)
        return failed(`${describeError(answer)} The page cannot read ${fileName} to say which; the ` +
                      `server's log names them. ${written}`);
      return done(`Written from ${fileName} and read back: the device holds what the file asks. ${written}`);
    }
    const different = Object.values(found).filter((m) => m.kind === 'different').length;
    const rounded = Object.values(found).filter((m) => m.kind === 'rounded').length;
    if (error === -132 || different)
      return failed(`${describeError(answer)} ${different} values came back different; they are marked.`);
    return done('Written and read back: the device holds what was sent' +
                (rounded ? ` (${rounded} values rounded to what its fields can hold; marked).` : '.'));
  };

  const write = () => {
    const sentEntries = edited;
    const text = restore ? restore.documentText : writeDocument(sentEntries);
    run(restore ? 'Restoring the backup…' : `Writing ${changes} changed values…`, async () => showWrite(
      await upload('setconfig', deviceParams(device), new Blob([text], { type: 'application/json' }),
                   backupFileName(device)),
      sentEntries));
  };

  const writeServerFile = (name) =>
    run(`Writing ${name} from the server's search directory…`,
        async () => showWrite(await ask('setconfig', { ...deviceParams(device), file: name }), null, name));

  const saveBackup = () => {
    download(writeBackup(device, state.deviceText), backupFileName(device), 'application/json');
    setStatus(done(`Saved ${backupFileName(device)}: the configuration the device held when this form was read.`));
  };

  const loadBackup = async (file) => {
    if (!file) return;
    const result = readBackup(await file.text(), device);
    fileInput.current.value = '';
    if (result.refused) {
      setStatus(failed(result.refused));
      return;
    }
    let entries;
    try {
      entries = parseDocument(result.documentText).entries;
    } catch {
      setStatus(failed('The configuration in this file is not valid JSON.'));
      return;
    }
    const types = (list) => list.map((entry) => `${entry.Type}/${entry.Ordinal}`).join();
    if (types(entries) !== types(base)) result.warnings.push('Its groups differ from the ones this device has.');
    setMarks({});
    setRestore(result);
    setState((old) => ({ ...old, edited: entries }));
    setStatus(done(`Loaded ${file.name}${result.backup ? `, saved ${result.backup.Saved}` : ''}. ` +
                   `${result.warnings.join(' ')} Changed values are highlighted; "Restore backup" writes it.`));
  };

  if (state.loading && !base.length) return <p class="note busy" role="status">Reading the configuration…</p>;
  if (state.problem)
    return (
      <div>
        <p class="status failed" role="alert">{state.problem}</p>
        <button type="button" onClick={load}>Try again</button>
      </div>
    );
  const entries = edited.map((entry, index) => ({ entry, index })).sort((a, b) => a.entry.Sort - b.entry.Sort);
  return (
    <form class="config" onSubmit={(e) => { e.preventDefault(); write(); }}>
      <div class="row toolbar sticky">
        <button type="submit" disabled={(!changes && !restore) || status.state === 'busy'}>
          {restore ? 'Restore backup' : 'Write to device'}
        </button>
        <button type="button" disabled={(!changes && !restore) || status.state === 'busy'}
                onClick={() => { setRestore(null); setMarks({}); setState((old) => ({ ...old, edited: structuredClone(old.base) })); }}>
          Undo changes
        </button>
        <button type="button" onClick={saveBackup} disabled={status.state === 'busy'}>Save backup</button>
        <input id="backup-file" ref={fileInput} type="file" accept=".json,application/json" class="visually-hidden"
               onChange={(e) => loadBackup(e.currentTarget.files[0])} />
        <label class="button" for="backup-file">Load backup…</label>
        <button type="button" onClick={load} disabled={status.state === 'busy'}>Read again</button>
        <span class="quiet">{changes ? `${changes} changed` : 'no changes'}</span>
      </div>
      <ServerFileField id="config-server-file" busy={status.state === 'busy'}
                       label="Or a configuration document already on the robot (its name in the server's search directory)"
                       action="Write the robot's file"
                       onRefused={(text) => setStatus(failed(text))} onGo={writeServerFile} />
      <TaskStatus status={status} />
      {entries.length === 0 && <p class="note">This device's configuration has no values.</p>}
      {entries.map(({ entry, index }) => (
        <fieldset key={index}>
          <legend>{entry.Name}</legend>
          <p class="help">{entry.Description}</p>
          <div class="fields">
            {Object.entries(entry.Values).map(([name, value]) => (
              <ValueField key={name} id={`cfg-${index}-${name.replace(/\W+/g, '-')}`} name={name}
                          kind={entry.kinds[name]} value={value} base={base[index]?.Values[name]}
                          mark={marks[`${index}/${name}`]} onChange={(v) => setValue(index, name, v)} />
            ))}
          </div>
        </fieldset>
      ))}
    </form>
  );
}
