// The points a plot has received, taken from "plot" answers by their ordinals: every answer
// carries the server's whole buffer, so a point is new when its ordinal is above the last one
// taken. The first answer's points were recorded before this plot began (perhaps of another
// device) and are skipped, as tessera-diag does.

// The signals by the mask bit that asks for them; a frame carries all channels of its bits.
export const kChannels = [
  { name: 'MotorOutput', label: 'Motor output', bit: 0x001, scale: 'output' },
  { name: 'SensorPos', label: 'Sensor position', bit: 0x002, scale: 'units' },
  { name: 'SensorVel', label: 'Sensor velocity', bit: 0x004, scale: 'units' },
  { name: 'Current', label: 'Current (A)', bit: 0x008, scale: 'amperes' },
  { name: 'SensorPos1', label: 'Aux sensor position', bit: 0x010, scale: 'units' },
  { name: 'SensorVel1', label: 'Aux sensor velocity', bit: 0x020, scale: 'units' },
  { name: 'CloseLoopErr0', label: 'Closed-loop error 0', bit: 0x040, scale: 'units' },
  { name: 'CloseLoopErr1', label: 'Closed-loop error 1', bit: 0x080, scale: 'units' },
  { name: 'ActTrajPos', label: 'Trajectory position', bit: 0x100, scale: 'units' },
  { name: 'ActTrajVel', label: 'Trajectory velocity', bit: 0x200, scale: 'units' },
];

const kMaxRows = 500000;  // about an hour of every channel; older rows are dropped

export class PlotRecording {
  constructor() {
    this.rows = [];  // { ordinal, time, channel, value }, in order
    this.lastOrdinal = null;
    this.lost = 0;   // points that left the server's buffer between two answers
  }

  take(points) {
    if (this.lastOrdinal === null) {
      this.lastOrdinal = points.length ? points[points.length - 1].Ordinal : -1;
      return 0;
    }
    let added = 0;
    const fresh = points.filter((point) => point.Ordinal > this.lastOrdinal);
    if (fresh.length && fresh[0].Ordinal > this.lastOrdinal + 1 && this.lastOrdinal >= 0)
      this.lost += fresh[0].Ordinal - this.lastOrdinal - 1;
    for (const point of fresh) {
      for (const channel of kChannels) {
        if (point[channel.name] === undefined) continue;
        this.rows.push({ ordinal: point.Ordinal, time: point.Time, channel: channel.name,
                         value: point[channel.name] });
        ++added;
      }
      this.lastOrdinal = point.Ordinal;
    }
    if (this.rows.length > kMaxRows) this.rows.splice(0, this.rows.length - kMaxRows);
    return added;
  }

  // uPlot's columns for `names` over the last `seconds`: times relative to `origin`, and one
  // value column per channel with nulls where a frame did not carry it.
  columns(names, seconds, origin) {
    const last = this.rows.length ? this.rows[this.rows.length - 1].time : 0;
    const times = [];
    const series = names.map(() => []);
    let previousOrdinal = null;
    for (let i = this.rows.length - 1; i >= 0 && last - this.rows[i].time <= seconds; --i) {
      const row = this.rows[i];
      const column = names.indexOf(row.channel);
      if (column < 0) continue;
      if (row.ordinal !== previousOrdinal) {
        times.push(row.time - origin);
        series.forEach((s) => s.push(null));
        previousOrdinal = row.ordinal;
      }
      series[column][series[column].length - 1] = row.value;
    }
    times.reverse();
    series.forEach((s) => s.reverse());
    return [times, ...series];
  }

  csv() {
    const lines = ['Ordinal,Time,Channel,Value'];
    for (const row of this.rows) lines.push(`${row.ordinal},${row.time},${row.channel},${row.value}`);
    return `${lines.join('\n')}\n`;
  }
}
