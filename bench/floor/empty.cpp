// The start-up cost of a Wine process that does nothing: subtracted from the launcher's times.
int wmain() { return 0; }
