#pragma once
// quadric_bench's corpus mode: every model under a folder reduced as
// kelvane-cli reduce --ratio R reduces it, beside the poses peer asked for the
// same triangle count, at several ratios; the distribution of ours over the
// peer, the budgets missed and the time of each side.
//
//   quadric_bench corpus DIR [runs] [--csv FILE] [--ratios 0.5,0.25,...]
//                 [--only TEXT,...] [--threads N] [--samples N]
//
// runs: how many times each side is timed (the median is kept; quality comes
// from the first run). --only keeps the models whose path holds one of the
// texts. --threads: the ways tried at once (default: the processors, as the
// command line gives one file). --samples: the measure's area samples a side.

// Runs the mode; argv[1] is "corpus". Returns the process's exit status.
int RunCorpusBench(int argc, char** argv);
