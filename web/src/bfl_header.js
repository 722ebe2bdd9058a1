// What a firmware (BFL) file says about itself, read from its header: the version it carries,
// the model code it is for and its sectors. The server checks the file again; this only lets
// the user see what was picked before anything is sent.
const kMagic = 0xaa;
const kFixedHeaderBytes = 6;
const kMaxLabelBytes = 20;
const kSectorRecordBytes = 1545;

export function readBflHeader(bytes) {
  if (bytes.length < kFixedHeaderBytes || bytes[0] !== kMagic)
    return { problem: 'This is not a firmware file: its header is wrong.' };
  const headerBytes = kFixedHeaderBytes + Math.min(bytes[5], kMaxLabelBytes);
  const sectorBytes = bytes.length - headerBytes;
  if (sectorBytes < 0 || sectorBytes % kSectorRecordBytes !== 0)
    return { problem: 'This firmware file is damaged: its size does not fit its sectors.' };
  return {
    version: `${bytes[1]}.${bytes[2]}`,
    modelCode: bytes[4],
    sectors: sectorBytes / kSectorRecordBytes,
  };
}
