// One device's panel: its facts and a tab for each thing the server can do with it.
import { useEffect, useRef, useState } from 'preact/hooks';
import { isMotorController } from './device_list.js';
import { Commands } from './commands.jsx';
import { SelfTest } from './self_test.jsx';
import { Configuration } from './configuration.jsx';
import { Firmware } from './firmware.jsx';
import { LiveData } from './live_data.jsx';

function tabsFor(device) {
  const tabs = [
    ['commands', 'Commands', Commands],
    ['selftest', 'Self-test', SelfTest],
  ];
  if (device.SupportsConfigs) tabs.push(['config', 'Configuration', Configuration]);
  tabs.push(['firmware', 'Firmware', Firmware]);
  if (isMotorController(device)) tabs.push(['live', 'Live data', LiveData]);
  return tabs;
}

// Arrow keys move between tabs, as in every tab list.
function onTabKey(event, tabs, index, choose) {
  const step = { ArrowRight: 1, ArrowLeft: -1, Home: -index, End: tabs.length - 1 - index }[event.key];
  if (step === undefined) return;
  event.preventDefault();
  const next = (index + step + tabs.length) % tabs.length;
  choose(tabs[next][0]);
  event.currentTarget.parentElement.children[next].focus();
}

export function DevicePanel({ device, devices, listed, onSelect }) {
  const [tab, setTab] = useState('commands');
  // Opening a panel takes the reader there: on a phone it lies below the list.
  const title = useRef(null);
  useEffect(() => { title.current?.focus(); }, []);
  // A device that left the listing keeps its panel, so an upgrade in its bootloader goes on.
  const lastSeen = useRef(device);
  if (device) lastSeen.current = device;
  const shown = lastSeen.current;
  if (!shown) {
    return (
      <section class="panel" aria-label="Device">
        <p class="note" role="status">
          {listed ? 'That device is not in the listing.' : 'Loading the device list…'}{' '}
          <button type="button" onClick={() => onSelect('')}>Close</button>
        </p>
      </section>
    );
  }
  const tabs = tabsFor(shown);
  const current = tabs.find(([id]) => id === tab) ?? tabs[0];
  const Body = current[2];
  return (
    <section class="panel" aria-labelledby="panel-title">
      <div class="panel-head">
        <h2 id="panel-title" tabIndex={-1} ref={title}>{shown.Name}</h2>
        <button type="button" class="close" aria-label="Close the device panel"
                onClick={() => onSelect('')}>×</button>
      </div>
      {!device && (
        <p class="note warn" role="status">
          This device is not in the listing right now; what is shown is what it last reported.
        </p>
      )}
      <dl class="facts">
        <div><dt>Model</dt><dd>{shown.Model}</dd></div>
        <div><dt>ID</dt><dd>{shown.ID}</dd></div>
        <div><dt>Firmware</dt><dd>{shown.CurrentVers}</dd></div>
        <div><dt>Bootloader</dt><dd>{shown.BootloaderRev}</dd></div>
        <div><dt>Hardware</dt><dd>{shown.HardwareRev}</dd></div>
        <div><dt>Made</dt><dd>{shown.ManDate}</dd></div>
        <div><dt>Vendor</dt><dd>{shown.Vendor}</dd></div>
        <div class="span2"><dt>Serial</dt><dd class="mono">{shown.SerialNo}</dd></div>
      </dl>
      <div role="tablist" aria-label="What to do with the device">
        {tabs.map(([id, label], index) => (
          <button type="button" role="tab" id={`tab-${id}`} key={id}
                  aria-selected={id === current[0] ? 'true' : 'false'} aria-controls={`tabpanel-${id}`}
                  tabIndex={id === current[0] ? 0 : -1}
                  onClick={() => setTab(id)} onKeyDown={(e) => onTabKey(e, tabs, index, setTab)}>
            {label}
          </button>
        ))}
      </div>
      <div role="tabpanel" id={`tabpanel-${current[0]}`} aria-labelledby={`tab-${current[0]}`}
           class="tab-body">
        <Body device={shown} devices={devices} onSelect={onSelect} />
      </div>
    </section>
  );
}
