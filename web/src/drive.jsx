// Driving a motor controller at a fixed percent output while a button is held. "control" is
// sent every 20 ms (the server keeps each request going for about 90 ms); letting go, a hidden
// tab, leaving the page or a failed request sends one neutral request and then nothing.
import { useEffect, useRef, useState } from 'preact/hooks';
import { ask, describeError, deviceParams } from './api.js';

const kPeriodMs = 20;
const kFullScale = 1023;  // percent output: ±1023 is full forward or reverse

export function Drive({ device }) {
  const [percent, setPercent] = useState(0);
  const [running, setRunning] = useState(false);
  const [problem, setProblem] = useState('');
  const loop = useRef({ running: false, inFlight: false, timer: 0, percent: 0, neutralDue: false });
  loop.current.percent = percent;

  const send = (demandPercent, keepalive = false) =>
    ask('control', {
      ...deviceParams(device),
      controlmode: '0',
      demand0: String(Math.round((demandPercent * kFullScale) / 100)),
      controlen: 'true',
      nonfrcroboten: 'true',
    }, { timeoutMs: 1000, keepalive });

  // The neutral request goes out after any request still on its way, never before it; a page
  // being closed cannot wait for that answer, so its neutral request goes at once.
  const sendNeutral = (keepalive = false) => {
    const state = loop.current;
    if (state.inFlight && !keepalive) {
      state.neutralDue = true;
      return;
    }
    send(0, keepalive).catch(() => {});
  };

  const stop = (why = '') => {
    const state = loop.current;
    if (!state.running) return;
    state.running = false;
    clearInterval(state.timer);
    setRunning(false);
    if (why) setProblem(why);
    sendNeutral(why === 'leaving');
  };

  const tick = () => {
    const state = loop.current;
    if (!state.running || state.inFlight) return;  // never queue requests behind a slow one
    state.inFlight = true;
    send(state.percent).then(({ answer, error }) => {
      state.inFlight = false;
      if (state.neutralDue) { state.neutralDue = false; send(0).catch(() => {}); }
      if (error !== 0) stop(describeError(answer));
    }, () => {
      state.inFlight = false;
      if (state.neutralDue) {  // let go while this one was on its way: the neutral still goes
        state.neutralDue = false;
        send(0).catch(() => {});
      }
      stop('The connection to the server was lost: the motor was stopped.');
    });
  };

  const start = () => {
    const state = loop.current;
    if (state.running) return;
    state.running = true;
    setRunning(true);
    setProblem('');
    tick();
    state.timer = setInterval(tick, kPeriodMs);
  };

  useEffect(() => {
    const onHidden = () => { if (document.hidden) stop('The page was hidden: the motor was stopped.'); };
    const onLeave = () => stop('leaving');
    const onBlur = () => stop();
    document.addEventListener('visibilitychange', onHidden);
    addEventListener('pagehide', onLeave);
    addEventListener('blur', onBlur);
    return () => {
      document.removeEventListener('visibilitychange', onHidden);
      removeEventListener('pagehide', onLeave);
      removeEventListener('blur', onBlur);
      stop();
    };
  }, []);

  const isRunKey = (e) => e.key === ' ' || e.key === 'Enter';
  return (
    <section aria-labelledby="drive-title" class="drive">
      <h3 id="drive-title">Drive</h3>
      <p class="warning" role="note">
        Driving bypasses the robot's enable: the motor runs without the robot controller's
        consent. Keep hands and mechanisms clear, and have the robot's power switch within reach.
      </p>
      <label for="drive-percent">Output: <output for="drive-percent">{percent} %</output></label>
      <input id="drive-percent" type="range" min="-100" max="100" step="1" value={percent}
             onInput={(e) => setPercent(Number(e.currentTarget.value))} />
      <div class="row">
        <button type="button" class={`hold ${running ? 'running' : ''}`} aria-pressed={running ? 'true' : 'false'}
                aria-describedby="hold-help"
                onPointerDown={(e) => { e.currentTarget.setPointerCapture(e.pointerId); start(); }}
                onPointerUp={() => stop()} onPointerCancel={() => stop()}
                onLostPointerCapture={() => stop()} onContextMenu={(e) => e.preventDefault()}
                onKeyDown={(e) => { if (isRunKey(e)) { e.preventDefault(); if (!e.repeat) start(); } }}
                onKeyUp={(e) => { if (isRunKey(e)) { e.preventDefault(); stop(); } }}
                onBlur={() => stop()}>
          {running ? `Running at ${percent} %` : 'Hold to run'}
        </button>
        <button type="button" onClick={() => setPercent(0)}>Zero</button>
      </div>
      <p id="hold-help" class="help">
        Hold the button (or Space) to run; the motor stops as soon as it is let go.
      </p>
      {problem && <p class="status failed" role="alert">{problem}</p>}
    </section>
  );
}
