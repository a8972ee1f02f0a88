// Depth peeling for the interpenetration view. A fragment survives only when it lies deeper than
// the previous layer (the depth texture) by more than the tolerance; it keeps the face's pick
// colour and tells by its alpha whether the face is seen from the front (1) or the back (0).
#version 120

uniform sampler2D textureLastDepth;
uniform float tolerance;
uniform vec2 oneOverBufSize;

void main() {
    float lastDepth = texture2D(textureLastDepth, gl_FragCoord.xy * oneOverBufSize).r;
    if (gl_FragCoord.z <= lastDepth + tolerance)
        discard;
    gl_FragColor = vec4(gl_Color.rgb, gl_FrontFacing ? 1.0 : 0.0);
}
