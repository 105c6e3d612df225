// Model device check: position through the combined projection
// (registers 2-5), diffuse colour passed on. SM: shader model, 2 or 3.
#if SM == 3
vs_3_0
dcl_position v0
dcl_color v1
dcl_position o0
dcl_color o1
dp4 o0.x, v0, c2
dp4 o0.y, v0, c3
dp4 o0.z, v0, c4
dp4 o0.w, v0, c5
mov o1, v1
#else
vs_2_0
dcl_position v0
dcl_color v1
dp4 oPos.x, v0, c2
dp4 oPos.y, v0, c3
dp4 oPos.z, v0, c4
dp4 oPos.w, v0, c5
mov oD0, v1
#endif
