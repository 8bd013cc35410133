// Internal: the instruction set whose copies of the bulk kernels (the loader's line
// converter) run. The kernels give the same results with every instruction set; a
// faster one is taken where the processor has it, unless the environment asks for the
// baseline.
#ifndef RESPMAT_BASE_KERNELS_H
#define RESPMAT_BASE_KERNELS_H

namespace respmat::detail {

// True when the kernels built for SSSE3 are to run: the processor has SSSE3 and the
// environment variable RESPMAT_KERNELS is not "baseline". RESPMAT_KERNELS=baseline
// keeps to the baseline kernels on any processor, so that they can be checked and
// timed where the SSSE3 ones would be chosen; any other value, or none, leaves the
// choice to the processor (a value not understood is ignored rather than refused: it
// cannot change a result). The variable is read at the first call only, so every load
// of the process runs the same kernels.
[[nodiscard]] bool use_ssse3_kernels();

}  // namespace respmat::detail

#endif
