// The configuration document as "getconfig" answers it: entries of named values. Numbers keep
// whether the server wrote them as integers or as decimals, so the form can say which, and a
// document written back keeps that form.

// The text of the value of the top-level member `key` of the JSON object in `text`, exactly as
// it stands there, or null. Backups keep the server's document byte for byte this way.
export function rawMember(text, key) {
  let depth = 0;
  let at = 0;
  const skipString = (from) => {
    for (let i = from + 1; i < text.length; ++i) {
      if (text[i] === '\\') ++i;
      else if (text[i] === '"') return i + 1;
    }
    return text.length;
  };
  while (at < text.length) {
    const c = text[at];
    if (c === '"') {
      const end = skipString(at);
      if (depth === 1 && JSON.parse(text.slice(at, end)) === key) {
        let start = end;
        while (/[\s:]/.test(text[start])) ++start;
        let stop = start;
        let inner = 0;
        do {
          const d = text[stop];
          if (d === '"') { stop = skipString(stop); continue; }
          if (d === '{' || d === '[') ++inner;
          if (d === '}' || d === ']') --inner;
          ++stop;
        } while (stop < text.length && (inner > 0 || !/[,}\s]/.test(text[stop])));
        return text.slice(start, stop);
      }
      at = end;
      continue;
    }
    if (c === '{' || c === '[') ++depth;
    if (c === '}' || c === ']') --depth;
    ++at;
  }
  return null;
}

// Parses a document, noting for every number whether its text was an integer (JSON.parse
// forgets whether 0 was written 0 or 0.0).
export function parseDocument(text) {
  const document = JSON.parse(text);
  const integerTexts = collectIntegerValues(text);
  const entries = (document?.Configs ?? []).map((entry, index) => ({
    ...entry,
    kinds: Object.fromEntries(Object.entries(entry.Values ?? {}).map(([name, value]) => [
      name, kindOf(value, integerTexts.get(`${index}/${name}`)),
    ])),
  }));
  return { document, entries };
}

function kindOf(value, writtenAsInteger) {
  if (typeof value === 'boolean') return 'switch';
  if (typeof value === 'string') return 'text';
  return writtenAsInteger ? 'integer' : 'decimal';
}

// For each entry's "Values" member, which names hold a number written without a point or an
// exponent.
function collectIntegerValues(text) {
  const found = new Map();
  const configs = rawMember(text, 'Configs');  // the document itself is the top level here
  if (!configs) return found;
  let entry = -1;
  let depth = 0;
  const token = /"((?:[^"\\]|\\.)*)"\s*:\s*(-?\d+(?:\.\d+)?(?:[eE][+-]?\d+)?)?|[{}[\]]/g;
  for (const match of configs.matchAll(token)) {
    const [whole, name, number] = match;
    if (whole === '{' || whole === '[') {
      ++depth;
      if (depth === 2 && whole === '{') ++entry;
    } else if (whole === '}' || whole === ']') {
      --depth;
    } else if (number !== undefined && depth === 3) {
      found.set(`${entry}/${JSON.parse(`"${name}"`)}`, /^-?\d+$/.test(number));
    }
  }
  return found;
}

// Writes a document as the server writes its own (sorted keys, 4 spaces), numbers of decimal
// values with a point.
export function writeDocument(entries) {
  const number = (value, kind) =>
    kind === 'decimal' && Number.isInteger(value) ? `${value}.0` : JSON.stringify(value);
  const indent = (n) => ' '.repeat(4 * n);
  const sorted = (object) => Object.keys(object).sort();
  const lines = entries.map((entry) => {
    const members = sorted(entry).filter((k) => k !== 'kinds').map((key) => {
      if (key !== 'Values') return `${indent(3)}${JSON.stringify(key)}: ${JSON.stringify(entry[key])}`;
      const values = sorted(entry.Values).map((name) =>
        `${indent(4)}${JSON.stringify(name)}: ${typeof entry.Values[name] === 'number'
          ? number(entry.Values[name], entry.kinds[name]) : JSON.stringify(entry.Values[name])}`);
      return `${indent(3)}"Values": {\n${values.join(',\n')}\n${indent(3)}}`;
    });
    return `${indent(2)}{\n${members.join(',\n')}\n${indent(2)}}`;
  });
  return `{\n${indent(1)}"Configs": [\n${lines.join(',\n')}\n${indent(1)}]\n}`;
}

// How a value came back from the device against what was sent: equal, rounded by the
// device's fixed-point field (the server's own check accepts differences below 1), or different.
export function compareValue(sent, back) {
  if (sent === back) return 'same';
  if (typeof sent === 'number' && typeof back === 'number') {
    const difference = Math.abs(sent - back);
    if (difference <= 1e-9 * Math.max(1, Math.abs(sent))) return 'same';
    if (difference < 1) return 'rounded';
  }
  return 'different';
}

// Units of the values whose names do not carry them.
const kUnits = [
  [/Ramp$|Trigger Threshold Time$/, 's'],
  [/Current Limit$|Trigger Threshold Current$|Peak Current Limit$|Continuous Current Limit$/, 'A'],
  [/Peak Current Duration$| Ms$/, 'ms'],
  [/Voltage Compensation Saturation$/, 'V'],
  [/Output$|Neutral Deadband$/, 'fraction of full output, −1 to 1'],
  [/Cruise Velocity$/, 'sensor units per 100 ms'],
  [/^Acceleration$/, 'sensor units per 100 ms per second'],
  [/Soft Limit (Forward|Reverse) Value$|I Zone$|Allowable Error$|Max Integral Accum$/, 'sensor units'],
];

export function unitOf(name) {
  return kUnits.find(([pattern]) => pattern.test(name))?.[1] ?? '';
}
