// A labelled name of a file already in the server's search directory, and the button that uses
// it. A name the server would not open as asked is refused here, before anything is sent.
import { useState } from 'preact/hooks';
import { serverFileNameProblem } from './server_file_name.js';

export function ServerFileField({ id, label, action, busy, onRefused, onGo }) {
  const [name, setName] = useState('');
  const go = () => {
    const problem = serverFileNameProblem(name);
    if (problem) onRefused(`Nothing was sent: ${problem}`);
    else onGo(name);
  };
  return (
    <div class="server-file">
      <label for={id}>{label}</label>
      {/* Enter uses the name here rather than submitting a form the field may sit in. */}
      <input id={id} type="text" value={name} disabled={busy} spellcheck={false} autocomplete="off"
             onInput={(e) => setName(e.currentTarget.value)}
             onKeyDown={(e) => { if (e.key === 'Enter') { e.preventDefault(); go(); } }} />
      <button type="button" disabled={busy} onClick={go}>{action}</button>
    </div>
  );
}
