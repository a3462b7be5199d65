// Charged, stable bottom-up merge sort and the charged code-unit comparison of
// texts, shared by the Record key list, the Record JSON encoder and sortBy.
//
// Exports:
//   compareTexts(a, b, ctx)        -1, 0 or 1 by UTF-16 code units (a proper
//                                  prefix first); ctx.step() for the comparison
//                                  plus one per code-unit position examined.
//   mergeSort(items, compare, ctx) a new sorted array; runs of width 1, 2, 4, ...
//                                  (ctx.check() per width and per item moved);
//                                  the left head wins ties (stable). `items`
//                                  is not changed.
//   sortTexts(texts, ctx)          mergeSort with compareTexts.
//   sortIndicesByNumbers(keys, ctx) the indices 0..n-1 ordered by mergeSort with
//                                  the number comparison of sortBy keys written
//                                  in (ctx.step() per comparison; -0 equals 0).

export function compareTexts(a, b, ctx) {
  ctx.step();
  const shorter = a.length < b.length ? a.length : b.length;
  for (let i = 0; i < shorter; i += 1) {
    ctx.step();
    const x = a.charCodeAt(i);
    const y = b.charCodeAt(i);
    if (x !== y) return x < y ? -1 : 1;
  }
  return a.length === b.length ? 0 : a.length < b.length ? -1 : 1;
}

export function mergeSort(items, compare, ctx) {
  const count = items.length;
  let source = items.slice();
  if (count < 2) return source;
  let target = new Array(count);
  for (let width = 1; width < count; width *= 2) {
    ctx.check();
    for (let begin = 0; begin < count; begin += 2 * width) {
      const middle = Math.min(begin + width, count);
      const end = Math.min(begin + 2 * width, count);
      let left = begin;
      let right = middle;
      let out = begin;
      while (left < middle && right < end) {
        ctx.check();
        if (compare(source[left], source[right], ctx) <= 0) target[out++] = source[left++];
        else target[out++] = source[right++];
      }
      out = copyRest(source, left, middle, target, out, ctx);
      copyRest(source, right, end, target, out, ctx);
    }
    const swap = source;
    source = target;
    target = swap;
  }
  return source;
}

export function sortTexts(texts, ctx) {
  return mergeSort(texts, compareTexts, ctx);
}

// mergeSort over the indices of `keys` with the number comparison in place of
// a compare function: the same runs, checks and steps, and a call less per
// comparison on sortBy's hottest loop.
export function sortIndicesByNumbers(keys, ctx) {
  const count = keys.length;
  let source = new Array(count);
  for (let i = 0; i < count; i += 1) source[i] = i;
  if (count < 2) return source;
  let target = new Array(count);
  for (let width = 1; width < count; width *= 2) {
    ctx.check();
    for (let begin = 0; begin < count; begin += 2 * width) {
      const middle = Math.min(begin + width, count);
      const end = Math.min(begin + 2 * width, count);
      let left = begin;
      let right = middle;
      let out = begin;
      if (left < middle && right < end) {
        // The heads' indices and keys are held while they stay heads.
        let leftIndex = source[left];
        let rightIndex = source[right];
        let leftKey = keys[leftIndex];
        let rightKey = keys[rightIndex];
        for (;;) {
          ctx.check();
          ctx.step();
          // a comparison of at most 0 takes the left head: equal keys keep their order
          if (!(leftKey > rightKey)) {
            target[out++] = leftIndex;
            left += 1;
            if (left === middle) break;
            leftIndex = source[left];
            leftKey = keys[leftIndex];
          } else {
            target[out++] = rightIndex;
            right += 1;
            if (right === end) break;
            rightIndex = source[right];
            rightKey = keys[rightIndex];
          }
        }
      }
      out = copyRest(source, left, middle, target, out, ctx);
      copyRest(source, right, end, target, out, ctx);
    }
    const swap = source;
    source = target;
    target = swap;
  }
  return source;
}

// Copies what remains of a run, source[from .. to), to target from `out` on,
// with a ctx.check() per item moved; returns the next free position.
function copyRest(source, from, to, target, out, ctx) {
  for (let i = from; i < to; i += 1) {
    ctx.check();
    target[out++] = source[i];
  }
  return out;
}
