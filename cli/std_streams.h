// Lets the converters read standard input and write standard output, named "-" in place of a path.
#ifndef FERRYLINE_STD_STREAMS_H
#define FERRYLINE_STD_STREAMS_H

extern const char kStandardStreamPath[];

// Wraps the platform table so that the path "-" reads all of standard input, and an output named "-"
// is held in memory and copied to standard output only once the conversion succeeded.
void InstallStandardStreams();

#endif
