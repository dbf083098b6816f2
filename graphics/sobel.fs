#version 330
// Dark outlines along the edges of what was drawn; clear elsewhere.
in vec2 fragTexCoord;
in vec4 fragColor;
uniform sampler2D texture0;
uniform vec4 colDiffuse;
out vec4 finalColor;

float lum(vec2 uv)
{
    vec4 c = texture(texture0, uv);
    // Coverage counts too, so a shape on a clear target gets its rim.
    return dot(c.rgb * c.a, vec3(0.299, 0.587, 0.114)) + (1.0 - c.a) * 0.5;
}

void main()
{
    vec2 px = 1.0 / vec2(textureSize(texture0, 0));
    vec2 uv = fragTexCoord;
    float tl = lum(uv + px * vec2(-1.0, -1.0));
    float t  = lum(uv + px * vec2( 0.0, -1.0));
    float tr = lum(uv + px * vec2( 1.0, -1.0));
    float l  = lum(uv + px * vec2(-1.0,  0.0));
    float r  = lum(uv + px * vec2( 1.0,  0.0));
    float bl = lum(uv + px * vec2(-1.0,  1.0));
    float b  = lum(uv + px * vec2( 0.0,  1.0));
    float br = lum(uv + px * vec2( 1.0,  1.0));
    float gx = (tr + 2.0 * r + br) - (tl + 2.0 * l + bl);
    float gy = (bl + 2.0 * b + br) - (tl + 2.0 * t + tr);
    float edge = smoothstep(0.24, 0.6, sqrt(gx * gx + gy * gy));
    finalColor = vec4(0.05, 0.06, 0.05, edge * 0.85) * colDiffuse * vec4(1.0, 1.0, 1.0, fragColor.a);
}
