#include "app/glfunctions.hpp"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace v2bsp::app::gl {
namespace {

// Some systems' lookups answer these instead of null for a name they lack.
bool missing(void* found) {
    const auto value = reinterpret_cast<std::intptr_t>(found);
    return value == 0 || value == 1 || value == 2 || value == 3 || value == -1;
}

// Looks every entry up, remembering the first that is missing.
class Loader {
public:
    explicit Loader(Resolver resolve) : resolve_(resolve) {}

    template <typename Function>
    void operator()(Function*& entry, const char* name) {
        void* found = resolve_(name);
        if (missing(found)) {
            if (firstMissing_ == nullptr) firstMissing_ = name;
            entry = nullptr;
            return;
        }
        // The system hands functions out as data pointers; they are the same size here.
        static_assert(sizeof(Function*) == sizeof(void*));
        std::memcpy(&entry, &found, sizeof entry);
    }
    const char* firstMissing() const { return firstMissing_; }

private:
    Resolver resolve_;
    const char* firstMissing_ = nullptr;
};

}  // namespace

std::string load(Resolver resolve, Functions& gl) {
    if (resolve == nullptr) return "no way to look OpenGL functions up was given";
    Functions found;
    Loader look(resolve);
    look(found.GetString, "glGetString");
    look(found.GetError, "glGetError");
    look(found.ClearColor, "glClearColor");
    look(found.Clear, "glClear");
    look(found.Enable, "glEnable");
    look(found.Disable, "glDisable");
    look(found.Viewport, "glViewport");
    look(found.PolygonOffset, "glPolygonOffset");
    look(found.PixelStorei, "glPixelStorei");
    look(found.ReadPixels, "glReadPixels");
    look(found.DrawElements, "glDrawElements");
    look(found.CreateShader, "glCreateShader");
    look(found.ShaderSource, "glShaderSource");
    look(found.CompileShader, "glCompileShader");
    look(found.GetShaderiv, "glGetShaderiv");
    look(found.GetShaderInfoLog, "glGetShaderInfoLog");
    look(found.DeleteShader, "glDeleteShader");
    look(found.CreateProgram, "glCreateProgram");
    look(found.AttachShader, "glAttachShader");
    look(found.LinkProgram, "glLinkProgram");
    look(found.GetProgramiv, "glGetProgramiv");
    look(found.GetProgramInfoLog, "glGetProgramInfoLog");
    look(found.DeleteProgram, "glDeleteProgram");
    look(found.UseProgram, "glUseProgram");
    look(found.GetUniformLocation, "glGetUniformLocation");
    look(found.UniformMatrix4fv, "glUniformMatrix4fv");
    look(found.Uniform3f, "glUniform3f");
    look(found.Uniform1i, "glUniform1i");
    look(found.GenVertexArrays, "glGenVertexArrays");
    look(found.BindVertexArray, "glBindVertexArray");
    look(found.DeleteVertexArrays, "glDeleteVertexArrays");
    look(found.GenBuffers, "glGenBuffers");
    look(found.BindBuffer, "glBindBuffer");
    look(found.BufferData, "glBufferData");
    look(found.DeleteBuffers, "glDeleteBuffers");
    look(found.EnableVertexAttribArray, "glEnableVertexAttribArray");
    look(found.VertexAttribPointer, "glVertexAttribPointer");
    look(found.GenFramebuffers, "glGenFramebuffers");
    look(found.BindFramebuffer, "glBindFramebuffer");
    look(found.DeleteFramebuffers, "glDeleteFramebuffers");
    look(found.CheckFramebufferStatus, "glCheckFramebufferStatus");
    look(found.FramebufferRenderbuffer, "glFramebufferRenderbuffer");
    look(found.GenRenderbuffers, "glGenRenderbuffers");
    look(found.BindRenderbuffer, "glBindRenderbuffer");
    look(found.RenderbufferStorage, "glRenderbufferStorage");
    look(found.DeleteRenderbuffers, "glDeleteRenderbuffers");
    look(found.BlitFramebuffer, "glBlitFramebuffer");
    // What only OpenGL 3.3 has is looked for where the context is no OpenGL ES.
    if (look.firstMissing() == nullptr && contextDialect(found) == Dialect::core33) {
        look(found.PolygonMode, "glPolygonMode");
        look(found.DrawElementsBaseVertex, "glDrawElementsBaseVertex");
    }
    if (look.firstMissing() != nullptr) {
        gl = Functions{};
        return std::string("the OpenGL function ") + look.firstMissing() + " is missing";
    }
    gl = found;
    return {};
}

// The first "digits.digits" of the text: "OpenGL ES 3.2 ..." names its
// version after a prefix.
void contextVersion(const Functions& gl, int& major, int& minor) {
    major = minor = 0;
    if (gl.GetString == nullptr) return;
    const auto* text = reinterpret_cast<const char*>(gl.GetString(kVersion));
    if (text == nullptr) return;
    for (const char* at = text; *at != '\0'; ++at) {
        if (*at < '0' || *at > '9') continue;
        char* end = nullptr;
        const long first = std::strtol(at, &end, 10);
        if (end == nullptr || *end != '.' || end[1] < '0' || end[1] > '9') continue;
        major = static_cast<int>(first);
        minor = static_cast<int>(std::strtol(end + 1, nullptr, 10));
        return;
    }
}

Dialect contextDialect(const Functions& gl) {
    if (gl.GetString == nullptr) return Dialect::core33;
    const auto* text = reinterpret_cast<const char*>(gl.GetString(kVersion));
    return text != nullptr && std::strncmp(text, "OpenGL ES", 9) == 0 ? Dialect::es30 : Dialect::core33;
}

}  // namespace v2bsp::app::gl
