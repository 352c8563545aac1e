// Applies the changes an answer carries to the state document the browser holds (the
// server's state_changes): each operation puts a value at a path of keys and indexes
// ({p, v}; an index one past an array's end appends), cuts an array to a length ({p, n}),
// removes a key ({p, d}) or replaces r elements of an array from index i by those of a
// ({p, i, r, a}: a list that shifted). Answers the document (a new one when the root itself
// was replaced).
export function applyChanges(doc, changes) {
  for (const op of changes) {
    const path = op.p;
    if (!path.length) {
      if ('v' in op) doc = op.v;
      continue;
    }
    let parent = doc;
    for (let i = 0; i < path.length - 1; i++) parent = parent[path[i]];
    const last = path[path.length - 1];
    if ('v' in op) parent[last] = op.v;
    else if ('n' in op) parent[last].length = op.n;
    else if ('d' in op) delete parent[last];
    else if ('i' in op) parent[last].splice(op.i, op.r, ...op.a);
  }
  return doc;
}
