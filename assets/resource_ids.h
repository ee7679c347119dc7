/* Ids of the configurator's own resources, shared by the program and its resource script. */
#ifndef TAKTOR_ASSETS_RESOURCE_IDS_H
#define TAKTOR_ASSETS_RESOURCE_IDS_H

/* The program icon: the class icon of every window. */
#define IDI_PROGRAM_ICON 1

/* The cycle banner: a complete BMP file, header included, stored as RCDATA. */
#define IDR_CYCLE_BANNER 100

#endif
