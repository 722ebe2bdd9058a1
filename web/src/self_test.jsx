// The device's self-test report as the server writes it, with faults and warnings marked.
import { useEffect, useRef, useState } from 'preact/hooks';
import { ask, describeError, deviceParams, NoAnswer } from './api.js';

const kAutoRefreshMs = 2000;
const kWarning = /NOT ENABLED|MUST BE UPDATED|frames are missing|hardware issue|Didn't receive|is missing/i;

// Which lines report a fault that is set: a fault table's rows (between its "(Fault)" header
// and the next empty line) with a 1 in them, "...Fault... : 1" lines and fault bit strings
// holding a 1.
export function classifyLines(text) {
  let inTable = false;
  return text.split('\n').map((line) => {
    if (/\(Fault\)/.test(line)) {
      inTable = true;
      return [line, 'heading'];
    }
    if (line.trim() === '') inTable = false;
    if (kWarning.test(line)) return [line, 'warning'];
    const faultBitSet = /fault/i.test(line) && (/:\s*1\b/.test(line) || /:\s*[01]*1[01]*\b/.test(line));
    if ((inTable && /\b1\b/.test(line)) || faultBitSet) return [line, 'fault'];
    return [line, ''];
  });
}

export function SelfTest({ device }) {
  const [report, setReport] = useState({ text: '', problem: '', at: null, busy: false });
  const [auto, setAuto] = useState(false);
  const alive = useRef(true);
  const refresh = async () => {
    setReport((old) => ({ ...old, busy: true }));
    try {
      const { answer, error } = await ask('selftest', deviceParams(device));
      if (!alive.current) return;
      setReport({
        text: answer.SelfTest ?? '',
        problem: error === 0 ? '' : describeError(answer),
        at: new Date(),
        busy: false,
      });
    } catch (e) {
      if (!(e instanceof NoAnswer)) throw e;
      if (alive.current) setReport((old) => ({ ...old, problem: e.message, busy: false }));
    }
  };
  useEffect(() => {
    alive.current = true;
    refresh();
    return () => { alive.current = false; };
  }, []);
  useEffect(() => {
    if (!auto || report.busy) return undefined;
    const timer = setTimeout(refresh, kAutoRefreshMs);
    return () => clearTimeout(timer);
  }, [auto, report]);
  const lines = classifyLines(report.text);
  const faults = lines.filter(([, kind]) => kind === 'fault').length;
  return (
    <div>
      <div class="row toolbar">
        <button type="button" onClick={refresh} disabled={report.busy}>Refresh</button>
        <label class="check">
          <input type="checkbox" checked={auto} onChange={(e) => setAuto(e.currentTarget.checked)} />
          Refresh every {kAutoRefreshMs / 1000} s
        </label>
        <span class="quiet" role="status">
          {report.busy ? 'Running the self-test…'
                       : report.at && `Taken at ${report.at.toLocaleTimeString()}` +
                                     (faults ? `: ${faults} fault lines` : '')}
        </span>
      </div>
      {report.problem && <p class="status failed" role="alert">{report.problem}</p>}
      <pre class="report" aria-label="Self-test report" tabIndex={0}>
        {lines.map(([line, kind], i) => (
          <span key={i} class={kind || undefined}>{line}{i < lines.length - 1 ? '\n' : ''}</span>
        ))}
      </pre>
    </div>
  );
}
