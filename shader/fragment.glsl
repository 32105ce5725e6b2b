// Fragment stage of the texture view: the texel at the interpolated coordinate, alpha included,
// so that blending lays the texture over the clear colour.
#version 130
#extension GL_ARB_explicit_attrib_location : require

// No uniform is ever set: a sampler left at its default reads texture unit 0.
uniform sampler2D tex;

in vec2 vTexCoord;

layout(location = 0) out vec4 fragColour;

void main() {
  fragColour = texture(tex, vTexCoord);
}
