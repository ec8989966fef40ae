SELECT scanner_id, ip_addr, agent_port FROM components WHERE kind = '%s' ORDER BY scanner_id
