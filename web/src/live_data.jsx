// Live data of a motor controller: a streaming plot of the signals picked by name, and driving
// the motor at a fixed output while a button is held.
import { useEffect, useRef, useState } from 'preact/hooks';
import uPlot from 'uplot';
import { ask, describeError, deviceParams, download, NoAnswer } from './api.js';
import { kChannels, PlotRecording } from './plot_recording.js';
import { Drive } from './drive.jsx';

const kPollPeriodMs = 100;  // ten updates a second
const kWindowSeconds = 30;
const kColours = ['#2563eb', '#dc2626', '#16a34a', '#d97706', '#7c3aed', '#0891b2', '#db2777',
                  '#65a30d', '#475569', '#b45309'];
const kScaleLabels = { output: 'output (−1 to 1)', amperes: 'A', units: 'sensor units' };

function plotOptions(channels, width, onZoom) {
  const scales = [...new Set(channels.map((c) => c.scale))];
  return {
    width,
    height: Math.max(220, Math.min(360, Math.round(width * 0.45))),
    scales: { x: { time: false } },
    cursor: { drag: { x: true, y: false } },
    legend: { live: true },
    axes: [
      { label: 'time (s)' },
      ...scales.map((scale, i) => ({ scale, label: kScaleLabels[scale], side: i === 0 ? 3 : 1,
                                     grid: { show: i === 0 } })),
    ],
    series: [
      { label: 'time (s)', value: (u, v) => (v === null ? '–' : v.toFixed(3)) },
      ...channels.map((channel) => ({
        label: channel.label, scale: channel.scale, spanGaps: true, width: 1.5,
        stroke: kColours[kChannels.indexOf(channel)],
      })),
    ],
    hooks: { setSelect: [(u) => { if (u.select.width > 0) onZoom(); }] },
  };
}

function Plot({ device }) {
  const [picked, setPicked] = useState(['MotorOutput', 'SensorVel']);
  const [plotting, setPlotting] = useState(true);  // opening the tab is asking to see it
  const [paused, setPaused] = useState(false);
  const [info, setInfo] = useState({ points: 0, lost: 0, problem: '' });
  const holder = useRef(null);
  const plot = useRef(null);
  const recording = useRef(new PlotRecording());
  const state = useRef({});
  state.current = { paused, picked };

  const channels = kChannels.filter((c) => picked.includes(c.name));
  const mask = channels.reduce((bits, c) => bits | c.bit, 0);

  // The plot is made again when the channels change, and follows the width of its box.
  useEffect(() => {
    if (!channels.length) return undefined;
    const chart = new uPlot(plotOptions(channels, holder.current.clientWidth, () => setPaused(true)),
                            [[], ...channels.map(() => [])], holder.current);
    plot.current = chart;
    const resize = new ResizeObserver(() => chart.setSize({
      width: holder.current.clientWidth, height: chart.height }));
    resize.observe(holder.current);
    return () => { resize.disconnect(); chart.destroy(); plot.current = null; };
  }, [picked.join()]);

  const redraw = () => {
    const rows = recording.current.rows;
    if (!plot.current || !rows.length) return;
    const names = state.current.picked;
    const ordered = kChannels.filter((c) => names.includes(c.name)).map((c) => c.name);
    plot.current.setData(recording.current.columns(ordered, kWindowSeconds, rows[0].time));
  };

  useEffect(() => {
    if (!plotting || !mask) return undefined;
    let timer = 0;
    let stopped = false;
    const poll = async () => {
      const started = Date.now();
      try {
        const { answer, error } = await ask('plot', { ...deviceParams(device), channels: String(mask) });
        if (stopped) return;
        if (error !== 0) {
          setInfo((old) => ({ ...old, problem: describeError(answer) }));
        } else {
          recording.current.take(answer.Points ?? []);
          setInfo({ points: recording.current.rows.length, lost: recording.current.lost, problem: '' });
          if (!state.current.paused) redraw();
        }
      } catch (e) {
        if (!(e instanceof NoAnswer)) throw e;
        setInfo((old) => ({ ...old, problem: e.message }));
      }
      if (!stopped) timer = setTimeout(poll, Math.max(0, kPollPeriodMs - (Date.now() - started)));
    };
    recording.current.lastOrdinal = null;  // a new run skips what the buffer held before it
    poll();
    return () => { stopped = true; clearTimeout(timer); };
  }, [plotting, mask]);

  useEffect(() => { if (!paused) redraw(); }, [paused]);

  const toggle = (name, on) =>
    setPicked((old) => (on ? [...old, name] : old.filter((n) => n !== name)));
  return (
    <section aria-labelledby="plot-title">
      <h3 id="plot-title">Plot</h3>
      <fieldset class="channels">
        <legend>Signals</legend>
        {kChannels.map((channel) => (
          <label class="check" key={channel.name}>
            <input type="checkbox" checked={picked.includes(channel.name)}
                   onChange={(e) => toggle(channel.name, e.currentTarget.checked)} />
            {channel.label}
          </label>
        ))}
      </fieldset>
      <div class="row toolbar">
        <button type="button" aria-pressed={plotting ? 'true' : 'false'} disabled={!mask}
                onClick={() => setPlotting(!plotting)}>
          {plotting ? 'Stop plotting' : 'Start plotting'}
        </button>
        <button type="button" aria-pressed={paused ? 'true' : 'false'} onClick={() => setPaused(!paused)}>
          {paused ? 'Resume view' : 'Pause view'}
        </button>
        <button type="button" disabled={!info.points}
                onClick={() => download(recording.current.csv(), `${device.Model.toLowerCase().replace(/ /g, '-')}-${device.ID}-plot.csv`, 'text/csv')}>
          Export CSV
        </button>
        <span class="quiet" role="status">
          {info.points} values recorded{info.lost ? `, ${info.lost} points missed` : ''}
          {paused && ' · view paused (drag across the plot to zoom; Resume view follows again)'}
        </span>
      </div>
      {info.problem && <p class="status failed" role="alert">{info.problem}</p>}
      <div class="plot" ref={holder} role="img"
           aria-label={`Plot of ${channels.map((c) => c.label).join(', ') || 'no signals'} over the last ${kWindowSeconds} seconds`} />
    </section>
  );
}

export function LiveData({ device }) {
  return (
    <div class="live">
      <Plot device={device} />
      <Drive device={device} />
    </div>
  );
}
