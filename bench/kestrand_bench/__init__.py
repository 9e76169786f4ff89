"""The parts of bench/bench.py, the side-by-side benchmark.

contenders  the implementations measured, each imported if it can be
harness     interleaved rounds, calibration, the best round (and wall time for threads)
uuid_class  cases for the UUID class and the memory per object
generators  cases for the single, bulk and name-based generators
bulk_sizes  the bulk calls from 1 to 10 million items: cost per item, peak memory, Ctrl-C (--bulk-sizes)
floors      the getrandom floors, timed in C by floor_probe.c (compiled on demand)
threads     two threads against one
database    binary COPY data end to end, and conversions to and from uuid.UUID
integrations the recipes of docs/integrations.md (--integrations)
report      times, ratios and the per-operation table
plot        the pictures (--plot)
"""
