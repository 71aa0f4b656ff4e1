// The reader once more, made for a report (it counts lines and notes what it leaves out). It is
// compiled on its own, so that the compiler shapes the plain reader's loops as if this one did
// not exist: in one file, the two together crossed its inlining limits and the plain reader
// slowed by about 2 %.
#define ROKCONV_READER_FOR_REPORT
#include "rok/rok_reader.cpp"
