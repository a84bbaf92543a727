/* The program's version, for the version record (plain C: rc reads it). */
#ifndef VELMO_VERSION_H
#define VELMO_VERSION_H

#define VELMO_VERSION_BINARY 1, 0, 0, 0
#define VELMO_VERSION_TEXT "1.00"

#endif
