// host_reset.h - the host build only: the module back to its state at load,
// for a program that runs many attaches against the one module it links (a
// test, a benchmark, a fuzzer).  Not part of the image.
#ifndef ZERVAL_HOST_RESET_H
#define ZERVAL_HOST_RESET_H

extern "C" {
// The hook table and the services driver's entry empty, the published list
// and its counts 0, and the catalogue tables as they were at the first call
// (make that call before anything writes to them).  The published arrays
// belong to the pool they came from; this does not free them.
void ZervalResetToLoad();
}

#endif // ZERVAL_HOST_RESET_H
