// The entry points themselves live in server/; this library only gathers the subsystems and
// limits the exports to them (see exports.map).
