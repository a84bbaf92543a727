/* Resource numbers shared by app.rc and the window code (plain C: rc reads it). */
#ifndef VELMO_RESOURCE_IDS_H
#define VELMO_RESOURCE_IDS_H

#define IDI_VELMO 1

#define IDP_TITLE 101
#define IDP_STARTER 102
#define IDP_EISENMARK 103
#define IDP_STURMTAL 104
#define IDP_EISENMARK_NORMAL 111
#define IDP_EISENMARK_DEBUG 112
#define IDP_EISENMARK_GESCHLOSSEN 113
#define IDP_EISENMARK_EDITOR 114
#define IDP_STURMTAL_NORMAL 115
#define IDP_STURMTAL_DEBUG 116
#define IDP_STURMTAL_GESCHLOSSEN 117
#define IDP_STURMTAL_EDITOR 118
#define IDP_NOTEPAD 120

/* Custom resource type holding a picture as a BMP file (24 or 32 bits, uncompressed). */
#define RT_PICTURE_FILE 256

#endif
