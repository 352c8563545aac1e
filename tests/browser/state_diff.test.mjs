// The browser applies the changes an answer carries as the server means them: every kind of
// operation, in order, including a list that shifted by a row.
import {test} from 'node:test';
import assert from 'node:assert/strict';
import {applyChanges} from '../../web/js/state_diff.js';

test('changes turn the held document into the new one', () => {
  const held = {form: {rows: ['b', 'c', 'd', 'e'], row_count: 4, current_row: 2}, status: 'x', message: null};
  const changes = [
    {p: ['form', 'rows'], i: 0, r: 0, a: ['a']},
    {p: ['form', 'rows'], n: 4},
    {p: ['form', 'rows', 2], v: 'C'},
    {p: ['form', 'row_count'], v: 5},
    {p: ['status'], d: 1},
    {p: ['form', 'rows'], i: 1, r: 2, a: []},
  ];
  assert.deepEqual(applyChanges(held, changes), {form: {rows: ['a', 'd'], row_count: 5, current_row: 2}, message: null});
  assert.deepEqual(applyChanges({a: 1}, [{p: [], v: {b: 2}}]), {b: 2});
});
