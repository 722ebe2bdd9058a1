// Tessera Diagnostics in a browser: the device list, and a panel per device with everything
// the server can do to it.
import { render } from 'preact';
import { useEffect, useState } from 'preact/hooks';
import 'uplot/dist/uPlot.min.css';
import './style.css';
import { ask } from './api.js';
import { deviceKey, useDeviceList } from './device_list.js';
import { DeviceTable } from './device_table.jsx';
import { DevicePanel } from './device_panel.jsx';

// The open device survives a reload: its key is the page's fragment (#kestrel-kx-1).
const keyFromLocation = () => decodeURIComponent(location.hash.slice(1));

function App() {
  const listing = useDeviceList();
  const [selectedKey, setSelectedKey] = useState(keyFromLocation());
  const [serverVersion, setServerVersion] = useState('');
  useEffect(() => {
    ask('getversion').then(({ answer }) => setServerVersion(answer.Version ?? ''), () => {});
    const onHash = () => setSelectedKey(keyFromLocation());
    addEventListener('hashchange', onHash);
    return () => removeEventListener('hashchange', onHash);
  }, []);
  const select = (key) => {
    history.replaceState(null, '', key ? `#${encodeURIComponent(key)}` : location.pathname);
    setSelectedKey(key);
  };
  const device = (listing.devices ?? []).find((d) => deviceKey(d) === selectedKey);
  return (
    <>
      <header class="top">
        <h1>Tessera Diagnostics</h1>
        <span class="quiet">{serverVersion && `server ${serverVersion}`}</span>
      </header>
      <main>
        <DeviceTable listing={listing} selectedKey={selectedKey} onSelect={select} />
        {selectedKey && (
          <DevicePanel key={selectedKey} device={device} devices={listing.devices ?? []}
                       listed={listing.devices !== null} onSelect={select} />
        )}
      </main>
      <footer class="quiet">
        Page {PAGE_VERSION}. Every action here is one of the server's <code>/?action=</code>{' '}
        requests, also possible with curl or <code>tessera-diag</code>.
      </footer>
    </>
  );
}

const root = document.getElementById('app');
root.textContent = '';  // the loading line the page shows before its script runs
render(<App />, root);
