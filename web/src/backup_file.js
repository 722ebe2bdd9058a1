// The configuration backup file that tessera-diag writes too: a "Backup" record of where the
// document came from, and the "Device" member of the "getconfig" answer exactly as it was.
import { rawMember } from './config_document.js';

export const kTool = `Tessera Diagnostics page ${PAGE_VERSION}`;

// "kestrel-kf-2.json", the name tessera-diag's backup gives the same device.
export const backupFileName = (device) =>
  `${device.Model.toLowerCase().replace(/ /g, '-')}-${device.ID}.json`;

// `deviceText` is the raw "Device" member of a "getconfig" answer, indented as it stood there.
export function writeBackup(device, deviceText, now = new Date()) {
  const record = {
    Model: device.Model,
    ID: device.ID,
    SerialNo: device.SerialNo,
    Firmware: device.CurrentVers,
    Saved: now.toISOString().replace(/\.\d{3}Z$/, 'Z'),
    Tool: kTool,
  };
  const recordText = JSON.stringify(record, null, 4).replace(/\n/g, '\n    ');
  return `{\n    "Backup": ${recordText},\n    "Device": ${deviceText}\n}\n`;
}

// Reads a backup (or an older plain document) for `device`: { documentText, backup, warnings }
// or { refused }. The document text is what restoring sends, byte for byte.
export function readBackup(text, device) {
  let parsed;
  try {
    parsed = JSON.parse(text);
  } catch {
    return { refused: 'This file is not JSON.' };
  }
  if (parsed && typeof parsed === 'object' && parsed.Backup && parsed.Device) {
    const { Backup: backup } = parsed;
    if (String(backup.Model ?? '').toLowerCase() !== device.Model.toLowerCase())
      return { refused: `This backup is of a ${backup.Model}; this device is a ${device.Model}. Nothing was loaded.` };
    const warnings = [];
    if (backup.SerialNo && backup.SerialNo !== device.SerialNo)
      warnings.push(`It was saved from another ${backup.Model} (serial ${backup.SerialNo}).`);
    if (backup.Firmware && backup.Firmware !== device.CurrentVers)
      warnings.push(`It was saved with firmware ${backup.Firmware}; the device runs ${device.CurrentVers}.`);
    return { documentText: rawMember(text, 'Device'), backup, warnings };
  }
  if (parsed && typeof parsed === 'object' && Array.isArray(parsed.Configs))
    return {
      documentText: text,
      backup: null,
      warnings: ['This is a plain configuration document without a backup record: make sure it ' +
                 `belongs to a ${device.Model}.`],
    };
  return { refused: 'This file is neither a configuration backup nor a configuration document.' };
}
