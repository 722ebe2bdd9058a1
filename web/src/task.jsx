// The state of one user action (idle, busy, done, failed) and the line that reports it.
import { useState } from 'preact/hooks';
import { NoAnswer } from './api.js';

export function useTask() {
  const [status, setStatus] = useState({ state: 'idle', text: '' });
  const run = async (busyText, work) => {
    setStatus({ state: 'busy', text: busyText });
    try {
      const outcome = await work((text) => setStatus({ state: 'busy', text }));
      setStatus(outcome);
    } catch (e) {
      if (!(e instanceof NoAnswer)) throw e;
      setStatus({ state: 'failed', text: e.message });
    }
  };
  return [status, run, setStatus];
}

export const done = (text) => ({ state: 'done', text });
export const failed = (text) => ({ state: 'failed', text });

// Announced to screen readers as it changes; failures interrupt.
export function TaskStatus({ status }) {
  if (status.state === 'idle') return <p class="status" role="status" />;
  return (
    <p class={`status ${status.state}`} role={status.state === 'failed' ? 'alert' : 'status'}>
      {status.state === 'busy' && <span class="spinner" aria-hidden="true" />}
      {status.text}
    </p>
  );
}
