// What is wrong with a name for a file in the server's search directory, or '' when it may be
// sent: the same refusals as `tessera-diag upgrade --server-file`, said before anything is sent.
export function serverFileNameProblem(name) {
  if (name === '') return 'Type the name of a file in the server\'s search directory.';
  if (name.includes('/'))
    return `"${name}": the server opens only a file name in its search directory, no path (a '/' is refused).`;
  if (name === '.' || name === '..') return `"${name}" is a directory, not a file in the server's search directory.`;
  if (/[&=]/.test(name)) return `"${name}": a name with '&' or '=' would be cut by the server.`;
  return '';
}
