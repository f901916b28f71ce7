#pragma once
// The reduction pass written as the plain loop: every fan found by scanning
// all triangles, every removal shifting the lists at once. Slow on purpose; the
// fast pass must match it byte for byte, line for line, draw for draw.

class TMDLModel;

void ReferenceReduce(TMDLModel& model, float NormalLimit, float UVLimit);
