// How many threads one load, save, encode or decode may use. A process-wide
// setting: the command line's batch conversion, which runs one file per
// thread, sets it to 1; benchmarks compare counts through the environment.
#pragma once

// 0 means one per hardware thread, the default unless the environment sets
// LUNARK_THREADS (or, its older name, LUNARK_WIF_THREADS) to a count.
void vxSetWorkerThreads(int count);
// The effective count, at least 1.
int vxWorkerThreads();
