// The device's configuration as a form: read with "getconfig", written with "setconfig" (which
// reads the device back), saved to and loaded from backup files.
import { useEffect, useRef, useState } from 'preact/hooks';
import { ask, describeError, deviceParams, download, NoAnswer, upload } from './api.js';
import { backupFileName, readBackup, writeBackup } from './backup_file.js';
import { compareValue, parseDocument, rawMember, unitOf, writeDocument } from './config_document.js';
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

  const write = () => {
    const sentEntries = edited;
    const text = restore ? restore.documentText : writeDocument(sentEntries);
    run(restore ? 'Restoring the backup…' : `Writing ${changes} changed values…`, async () => {
      const { answer, text: answerText, error } = await upload(
        'setconfig', deviceParams(device), new Blob([text], { type: 'application/json' }),
        backupFileName(device));
      const backText = rawMember(answerText, 'Device');
      if (error !== 0 && error !== -132) return failed(describeError(answer));
      // -132 without a read-back: the server refused the document before sending anything, so
      // the form keeps the user's values to correct.
      if (backText === null)
        return failed('Nothing was written: a value is one its field cannot hold (a negative gain, ' +
                      'current or time, an output beyond full scale, a whole number beyond 32 bits, …).');
      const back = parseDocument(backText).entries;
      const found = markDifferences(sentEntries, back);
      setMarks(found);
      setRestore(null);
      setState((old) => ({ ...old, deviceText: backText, base: back, edited: structuredClone(back) }));
      const different = Object.values(found).filter((m) => m.kind === 'different').length;
      const rounded = Object.values(found).filter((m) => m.kind === 'rounded').length;
      if (error === -132 || different)
        return failed(`${describeError(answer)} ${different} values came back different; they are marked.`);
      return done('Written and read back: the device holds what was sent' +
                  (rounded ? ` (${rounded} values rounded to what its fields can hold; marked).` : '.'));
    });
  };

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
