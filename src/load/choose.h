/*
 * choose.h --
 *
 *	Choosing which connection of the capture files to load (-c N, the
 *	window's Connections dialog) and printing the connection table (-L).
 *	Connection N is the Nth of the first file's list; in a second file,
 *	captured at the other end, the same connection is the one with the
 *	same addresses and ports, else the one with the same ports (a NAT
 *	between the two capture points rewrote the addresses).
 */

#ifndef WIREPAINT_LOAD_CHOOSE_H
#define WIREPAINT_LOAD_CHOOSE_H

/*
 * choose_connection --
 *	Forgets every earlier choice; with `number` > 0 lists the files and
 *	sets the choice of each (trace/connlist.h), so that the next
 *	load_traces of the same names loads connection `number`. A number
 *	past the first file's list, or a second file without a matching
 *	connection, fails through load_fail with a message and status 1;
 *	failures to read the files are the reader's.
 */
void choose_connection(int nfiles, char *const names[], int number);

/*
 * print_connection_tables --
 *	The -L output: for each file a line "# FILE: N TCP connection(s)",
 *	then its table (connection_table), on standard output. Failures to
 *	read a file are the reader's.
 */
void print_connection_tables(int nfiles, char *const names[]);

#endif
