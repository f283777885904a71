"""Local stand-in for the remote tweet service, used by Trackpost's tests."""
