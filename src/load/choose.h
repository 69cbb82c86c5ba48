/*
 * choose.h --
 *
 *	Choosing which connection of the capture files to load (-c N, the
 *	window's Connections dialog) and printing the connection table (-L).
 *	Connection N is the Nth of the first file's list; in a second file,
 *	captured at the other end, the same connection is the one whose
 *	handshake shows it (the client's and server's initial sequence
 *	numbers, the SYNs' TCP timestamps, which a NAT between the capture
 *	points leaves alone), with its first segments' lengths, SYN options
 *	and ends as further evidence; two rows that fit about as well give
 *	none. Where no row shows a handshake of its own (captures begun
 *	mid-connection), the one with the same addresses and ports, else the
 *	one with the same ports.
 */

#include <string>
#include <vector>

#ifndef WIREPAINT_LOAD_CHOOSE_H
#define WIREPAINT_LOAD_CHOOSE_H

/*
 * choose_connection --
 *	Forgets every earlier choice; with `number` > 0 lists the files and
 *	sets the choice of each (trace/connlist.h), so that the next
 *	load_traces of the same names loads connection `number`. A number
 *	past the first file's list, or a second file without a counterpart
 *	(none fits, or two fit about as well), fails through load_fail with
 *	"Fatal: cannot find matched data in two files" and a line saying
 *	why, status 1;
 *	failures to read the files are the reader's.
 */
void choose_connection(int nfiles, char *const names[], int number);

/*
 * choose_counterpart_of_first --
 *	For two files read without a choice, whose first connections turned
 *	out to be different connections: chooses the first file's first
 *	connection and its counterpart in the second file, and returns true,
 *	when that counterpart is another than the second file's first
 *	connection; otherwise, and when either file is no regular file (it
 *	cannot be read again), chooses nothing and returns false.
 */
bool choose_counterpart_of_first(char *const names[]);

/*
 * counterpart_numbers --
 *	For each connection of `first`'s list, the number (from 1) of its
 *	counterpart in `second`'s, as choose_connection finds it; 0 when it
 *	has none. Failures to read a file are the reader's.
 */
std::vector<int> counterpart_numbers(const char *first, const char *second);

/*
 * print_connection_tables --
 *	The -L output: for each file a line "# FILE: N TCP connection(s)",
 *	then its table (connection_table), on standard output. Failures to
 *	read a file are the reader's.
 */
void print_connection_tables(int nfiles, char *const names[]);

#endif
