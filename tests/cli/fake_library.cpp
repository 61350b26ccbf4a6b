// A library under the name of one the program loads, holding none of its functions.
extern "C" {
extern const int pitchloomFakeLibrary;
const int pitchloomFakeLibrary = 1;
}
