// The devices as a table; choosing a device's name opens its panel.
import { deviceKey, hasDuplicateId, inBootloader } from './device_list.js';
import { RobotBackup } from './robot_backup.jsx';

function StateNote({ listing }) {
  const { devices, problem, settling, firstAnswerAt } = listing;
  if (problem) return <p class="note error" role="alert">{problem} Trying again every second…</p>;
  if (devices === null) return <p class="note" role="status">Loading the device list…</p>;
  if (devices.length === 0 && Date.now() - firstAnswerAt > 10000)
    return (
      <p class="note" role="status">
        No devices on the bus. Check that the robot is powered and its CAN wiring is
        connected; the list updates by itself.
      </p>
    );
  if (settling)
    return <p class="note busy" role="status">Discovering devices…</p>;
  return <p class="note quiet" role="status">{devices.length} devices, updated every second.</p>;
}

export function DeviceTable({ listing, selectedKey, onSelect }) {
  const devices = listing.devices ?? [];
  return (
    <section class="devices" aria-labelledby="devices-title">
      <h2 id="devices-title">Devices</h2>
      <StateNote listing={listing} />
      {devices.length > 0 && (
        <div class="table-scroll">
          <table>
            <thead>
              <tr>
                <th scope="col">Name</th>
                <th scope="col" class="wide">Model</th>
                <th scope="col">ID</th>
                <th scope="col">Firmware</th>
                <th scope="col" class="wide">Bootloader</th>
                <th scope="col" class="wide">Hardware</th>
                <th scope="col" class="wide">Serial</th>
                <th scope="col">Status</th>
              </tr>
            </thead>
            <tbody>
              {devices.map((device, row) => {
                const key = deviceKey(device);
                // A row keeps its elements (and the focus) while others come and go; two
                // devices on one ID are told apart by their order.
                const rowKey = `${key}#${devices.slice(0, row).filter((d) => deviceKey(d) === key).length}`;
                const duplicate = hasDuplicateId(device, devices);
                const bootloader = inBootloader(device);
                const selected = key === selectedKey;
                return (
                  <tr key={rowKey}
                      class={[selected && 'selected', duplicate && 'duplicate',
                              bootloader && 'bootloader'].filter(Boolean).join(' ')}>
                    <th scope="row">
                      <button type="button" class="link" aria-current={selected ? 'true' : undefined}
                              onClick={() => onSelect(key)}>
                        {device.Name}
                      </button>
                    </th>
                    <td class="wide">{device.Model}</td>
                    <td>{device.ID}</td>
                    <td>{device.CurrentVers}</td>
                    <td class="wide">{device.BootloaderRev}</td>
                    <td class="wide">{device.HardwareRev}</td>
                    <td class="wide mono">{device.SerialNo}</td>
                    <td>
                      {duplicate && <span class="badge warn">Duplicate ID</span>}
                      {bootloader && <span class="badge warn">Bootloader</span>}{' '}
                      {device.SoftStatus}
                    </td>
                  </tr>
                );
              })}
            </tbody>
          </table>
        </div>
      )}
      <RobotBackup devices={devices} />
    </section>
  );
}
